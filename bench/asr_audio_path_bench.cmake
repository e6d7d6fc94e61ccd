# The dictation audio path; libsbc encodes the input and decodes the reference path.
pkg_check_modules(SBC REQUIRED IMPORTED_TARGET sbc)
target_link_libraries(asr_audio_path_bench PRIVATE voice device PkgConfig::SBC)
