# The parameter reader of lumvar-cmd. Seeds: fuzz/corpus/xcopy_params/.
if(TARGET lumvar_xcopy)
  lumvar_add_fuzzer(NAME fuzz_xcopy_params
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/xcopy_params_fuzz.cpp
    LIBS lumvar_xcopy)
endif()
