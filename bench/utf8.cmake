# UTF-8 converters of the XML document against glibc's iconv (POSIX only: iconv comes with glibc).
if(NOT WIN32)
  add_executable(bench_utf8 ${CMAKE_CURRENT_LIST_DIR}/utf8_bench.cpp ${PROJECT_SOURCE_DIR}/xml/utf8.cpp)
  target_link_libraries(bench_utf8 PRIVATE benchmark::benchmark lumvar_warnings)
endif()
