# The application-table rebuild: batched writes against one write per row.
target_link_libraries(app_table_rebuild PRIVATE voice core)
