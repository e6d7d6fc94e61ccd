# Audience evaluation over a bundle against the raw-event insert of the same
# database and the engine's pipeline; the engine logs with a configured
# collection address (the fake collection server).
target_link_libraries(audience_evaluation PRIVATE analytics pravik_fakes)
