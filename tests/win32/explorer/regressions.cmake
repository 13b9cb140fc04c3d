# Minimal schedules of faults the explorer found, each replayed as a test of
# its own: explorer.regression.NAME.
set(kvo_explorer_regressions)

foreach(pair IN LISTS kvo_explorer_regressions)
endforeach()
