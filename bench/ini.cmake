# Loading a generated 10 MB INI file with CFileIni against inih (benchmark-only dependency).
find_package(PkgConfig REQUIRED)
pkg_check_modules(INIH REQUIRED IMPORTED_TARGET inih)
add_executable(ini_bench ${CMAKE_CURRENT_LIST_DIR}/ini_load_bench.cpp)
target_link_libraries(ini_bench PRIVATE lumvar_ini PkgConfig::INIH benchmark::benchmark lumvar_warnings)
