# Audience evaluation over a bundle against the raw-event insert of the same database.
target_link_libraries(audience_evaluation PRIVATE analytics)
