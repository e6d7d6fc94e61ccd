# The application-table rebuild: batched writes against one write per row,
# and the main thread while a rebuild runs.
target_link_libraries(app_table_rebuild PRIVATE voice core)
