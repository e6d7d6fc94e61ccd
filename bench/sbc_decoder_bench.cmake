# The decoder against libsbc's decoder on the same frames; libsbc is linked only here and in the tests.
pkg_check_modules(SBC REQUIRED IMPORTED_TARGET sbc)
target_link_libraries(sbc_decoder_bench PRIVATE device PkgConfig::SBC)
