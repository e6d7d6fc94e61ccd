# The measurement engine end to end against the bare SQLite insert loop; uploads go to the fake collection server.
target_link_libraries(engine_pipeline PRIVATE analytics pravik_fakes PkgConfig::SQLITE3)
