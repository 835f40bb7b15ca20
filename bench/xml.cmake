# XML parse throughput beside pugixml's on the same settings-like document; pugixml is linked into
# the benchmark only.
find_package(pugixml REQUIRED)
add_executable(xml_bench ${CMAKE_CURRENT_SOURCE_DIR}/xml_parse_bench.cpp)
target_link_libraries(xml_bench PRIVATE lumvar_xml benchmark::benchmark pugixml::pugixml lumvar_warnings)
