# fuzz_xml_edit: parse-then-edit fuzzing of the XML document. Any text parses without harm, and after
# edits the index stays the one a fresh parse builds. Seed corpus: fuzz/corpus/xml_edit/.
# The document's sources are compiled into the target itself so that libFuzzer sees their coverage.
lumvar_add_fuzzer(NAME fuzz_xml_edit
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/xml_edit_fuzzer.cpp
          ${PROJECT_SOURCE_DIR}/xml/file_xml_scan.cpp
          ${PROJECT_SOURCE_DIR}/xml/file_xml_parse.cpp
          ${PROJECT_SOURCE_DIR}/xml/file_xml_read.cpp
          ${PROJECT_SOURCE_DIR}/xml/file_xml_edit.cpp)
