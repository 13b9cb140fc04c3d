# Minimal schedules the explorer shrank failures to, each replayed as a test
# of its own (explorer.regression.NAME).
function(kvo_explorer_regression name schedule)
  # A schedule's steps are apart by ';', which CMake would split on.
  string(REPLACE ";" "\\;" schedule "${schedule}")
  add_test(NAME explorer.regression.${name} COMMAND kvo_explorer --replay "${schedule}")
  set_tests_properties(explorer.regression.${name} PROPERTIES
    FIXTURES_REQUIRED wine RESOURCE_LOCK kvo_capture TIMEOUT 120)
endfunction()

# A WndProc that took a host window's user data for its capture session
# read raw input for it on the host's thread, or used the small integer as
# a pointer.  Fixed before the explorer ran; planted back, the explorer
# found it at its third schedule and shrank it to these.
kvo_explorer_regression(WndProcTrustsHostWindowPointer
  "trigger=returns; T0 open(good); T2 wndproc(host-window userdata=host-pointer, WM_INPUT stale-handle)")
kvo_explorer_regression(WndProcTrustsHostWindowSmallInt
  "trigger=returns; T0 open(good); T0 start; T1 wndproc(host-window userdata=3, WM_INPUT stale-handle); T1 press(remote x1)")

# A host that lets the plug-in go without a stop and loads it again gets the
# same, still capturing plug-in back, bound to the trigger it had: its press
# reaches that trigger.  The explorer once took every load for a fresh one
# with nothing bound, and called this delivery a fault.
kvo_explorer_regression(UnloadWithoutStopThenLoadKeepsCapture
  "trigger=returns; T0 open(good); T2 start; T1 unload; T0 load; T0 press(remote x1)")

# The trigger talks to T1 while T1 waits for its turn behind T0's stop, which
# waits for that trigger.  A host thread waiting for its turn answered no
# sent messages, so T0's stop gave up after its 3 s, the starts behind it
# gave up and returned 0, and T1's stop took 12 s.  Found natively (84 of 300
# replays there); host threads now answer sent messages while they wait.
kvo_explorer_regression(TriggerTalksToAThreadWaitingForItsTurn
  "trigger=sends(T1); T2 open(good); T0 start &; T0 stop &; T0 start &; T0 start &; T1 press(media x2); T1 stop &; T0 start &")

# T1 talks to T0 while T0's stop waits for a worker whose trigger is busy,
# and T0's window calls the plug-in again.  The nested call freed the
# session when the worker ended; the outer stop then waited on freed handles
# and stopped a null session: an access violation in the host (2 of 2
# replays against the DLL before the fix).  A start there replaced the
# session the stop still used.
kvo_explorer_regression(HostWindowStopsInsideAStop
  "trigger=blocks(800ms); host=calls(stop); T0 open(good); T0 start; T0 press(media x1); T0 stop &; T1 send(T0)")
kvo_explorer_regression(HostWindowStartsInsideAStop
  "trigger=blocks(800ms); host=calls(start); T0 open(good); T0 start; T0 press(media x1); T0 stop &; T1 send(T0)")
