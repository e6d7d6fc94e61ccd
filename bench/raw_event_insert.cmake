# The measurement database's table operations against bare SQLite calls on the same schema.
target_link_libraries(raw_event_insert PRIVATE analytics PkgConfig::SQLITE3)
