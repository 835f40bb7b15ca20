# The XML document's UTF-8 converters: any bytes decode and encode again without fault, the counting
# and writing passes agree, and valid UTF-8 comes back byte for byte. Seeds: fuzz/corpus/utf8_roundtrip/.
lumvar_add_fuzzer(NAME fuzz_utf8_roundtrip
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/utf8_roundtrip.cpp ${PROJECT_SOURCE_DIR}/xml/utf8.cpp)
