# The parameter reader of lumvar-cmd. Seeds: fuzz/corpus/xcopy_params/.
if(TARGET lumvar_xcopy)
  lumvar_add_fuzzer(NAME fuzz_xcopy_params
    SOURCES ${PROJECT_SOURCE_DIR}/tools/xcopy_params_fuzz.cpp
    LIBS lumvar_xcopy)
endif()
