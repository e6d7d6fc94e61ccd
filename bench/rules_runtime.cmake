# The rules runtime against Duktape, the reference interpreter, on the same
# programs; the programs are written in the notation of the rules tests.
pkg_check_modules(DUKTAPE REQUIRED IMPORTED_TARGET duktape)
target_include_directories(rules_runtime PRIVATE ${CMAKE_SOURCE_DIR}/tests/analytics)
# Only the runtime's layer and those below it: the bench builds without the
# engine and interface layers it never touches.
target_link_libraries(rules_runtime PRIVATE analytics_rules PkgConfig::DUKTAPE)
