"""The GIL is released while an analysis runs: two threads are inside the
core at the same moment. Each thread analyses until the main thread has
seen both inside (phonaxis._core.engines_running counts the calls running
with the GIL released), so the check does not depend on how long an
analysis takes; were the GIL held, no two calls could ever be inside at
once and the bounded wait fails."""

import threading

import phonaxis
from phonaxis import _core

# A bound on the wait, not a measurement: the check passes as soon as both
# threads are inside.
_WAIT_BOUND_S = 120


def test_two_threads_analyse_at_once(recordings):
    path = str(recordings / "demo.wav")
    expected = phonaxis.formant_track(path, step_ms=2)
    seen = threading.Event()
    results = {}

    def analyse(name):
        while not seen.is_set():
            results[name] = phonaxis.formant_track(path, step_ms=2)

    threads = [threading.Thread(target=analyse, args=(n,), daemon=True) for n in "ab"]
    for thread in threads:
        thread.start()
    most = 0
    waited = threading.Event()
    timer = threading.Timer(_WAIT_BOUND_S, waited.set)
    timer.start()
    while not waited.is_set() and most < 2:
        most = max(most, _core.engines_running())
        waited.wait(0.001)  # lets the analysing threads take the GIL
    seen.set()
    timer.cancel()
    for thread in threads:
        thread.join(_WAIT_BOUND_S)
    assert most == 2
    for name in "ab":
        assert results[name].equals(expected)
