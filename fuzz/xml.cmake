# Parse-then-edit fuzzing of the XML document: any text parses without harm, and after edits the
# index stays the one a fresh parse builds. Seed corpus: fuzz/corpus/xml_edit/.
lumvar_add_fuzzer(NAME xml_edit_fuzzer SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/xml_edit_fuzzer.cpp LIBS lumvar_xml)
