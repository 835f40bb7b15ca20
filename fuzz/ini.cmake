# CFileIni loading arbitrary bytes, checked against the document's invariants and a plain
# line-by-line model of the load rules.
lumvar_add_fuzzer(NAME fuzz_ini_load SOURCES ${CMAKE_CURRENT_LIST_DIR}/ini_load_fuzz.cpp LIBS lumvar_ini)
