# Events while a call runs, the interpreter lock released during calls,
# objects kept to their thread, and objects released when Python lets go of
# them, cycles included.
import gc
import threading

import pytest

import conftest
import pressmark

WRONG_THREAD = -2147417842  # RPC_E_WRONG_THREAD


class Recorder:
    def __init__(self): self.events = []
    def OnJobStart(self, ps, out): self.events.append(("JobStart", ps, out))
    def OnPageNumber(self, n): self.events.append(("PageNumber", n))
    def OnPercentDone(self, n): self.events.append(("PercentDone", n))
    def OnJobDone(self, ps, out): self.events.append(("JobDone", ps, out))


def test_events_in_order_while_the_call_runs(pdf, tmp_path):
    ps = conftest.write_ps(tmp_path / "in.ps", "one", "two")
    out = str(tmp_path / "out.pdf")
    handler = Recorder()
    with pressmark.WithEvents(pdf, handler) as conn:
        assert conn.connected and conn.handler is handler
        pdf.CreatePDFfromPS(out, ps)
    assert handler.events[0] == ("JobStart", ps, out)
    assert handler.events[-1] == ("JobDone", ps, out)
    assert [e for e in handler.events if e[0] == "PageNumber"] == [("PageNumber", 1), ("PageNumber", 2)]
    percents = [e[1] for e in handler.events if e[0] == "PercentDone"]
    assert percents == sorted(percents) and percents[-1] == 100
    # Closed: no more events reach the handler.
    before = len(handler.events)
    pdf.CreatePDFfromPS(out, ps)
    assert len(handler.events) == before and not conn.connected
    # A connection nobody holds any more disconnects too.
    pressmark.WithEvents(pdf, handler)
    gc.collect()
    pdf.CreatePDFfromPS(out, ps)
    assert len(handler.events) == before


def test_a_handler_exception_is_raised_when_the_call_returns(pdf, tmp_path):
    class Failing:
        def OnJobStart(self, ps, out): raise ValueError("stop here")
    ps = conftest.write_ps(tmp_path / "in.ps", "one")
    conn = pressmark.WithEvents(pdf, Failing)
    with pytest.raises(ValueError, match="stop here"):
        pdf.CreatePDFfromPS(str(tmp_path / "out.pdf"), ps)
    conn.close()
    with pytest.raises(pressmark.AutomationError) as e:
        pressmark.WithEvents(pressmark.Dispatch("AcroExch.App"), Recorder())
    assert e.value.number == 438


def test_other_threads_run_during_a_call_and_calls_run_at_once(tmp_path):
    # A thread counts while the Distiller works between JobStart and
    # JobDone; it only gets to count if the call let go of the lock.
    counter = [0]
    stop = threading.Event()

    def count():
        while not stop.is_set(): counter[0] += 1

    class Watch:
        def OnJobStart(self, ps, out): self.start = counter[0]
        def OnJobDone(self, ps, out): self.done = counter[0]

    results, errors = {}, []

    def convert(i):
        try:
            pdf = pressmark.CreatePDF()
            watch = Watch()
            conn = pressmark.WithEvents(pdf, watch)
            ps = conftest.write_ps(tmp_path / f"in{i}.ps", f"thread {i}")
            pdf.CreatePDFfromPS(str(tmp_path / f"out{i}.pdf"), ps)
            conn.close()
            results[i] = watch
        except Exception as e:  # reported by the main thread
            errors.append(e)

    counting = threading.Thread(target=count)
    counting.start()
    workers = [threading.Thread(target=convert, args=(i,)) for i in range(3)]
    for w in workers: w.start()
    for w in workers: w.join()
    stop.set()
    counting.join()
    assert errors == []
    assert all((tmp_path / f"out{i}.pdf").read_bytes().startswith(b"%PDF") for i in range(3))
    assert any(w.done > w.start for w in results.values())


def test_an_object_is_refused_on_another_thread(pdf):
    seen = []

    def use():
        for attempt in (lambda: pdf.TempFilePath, lambda: pdf.CopyFile("a", "b"),
                        lambda: pressmark.CreatePDF().OneDArrayToText([pdf], pressmark.Ref(), ";")):
            try:
                attempt()
            except pressmark.AutomationError as e:
                seen.append(e.number)

    on_thread(use)
    assert seen == [WRONG_THREAD] * 3
    assert pdf.TempFilePath  # still fine on its own thread


def on_thread(target):
    t = threading.Thread(target=target)
    t.start()
    t.join()


def running_excel():
    try:
        pressmark.GetActiveObject("Excel.Application")
        return True
    except pressmark.AutomationError as e:
        assert e.number == 429
        return False


def test_objects_in_cycles_are_released():
    app = pressmark.Dispatch("Excel.Application")
    assert running_excel()

    handler = type("Handler", (), {})()
    handler.app = app
    holder = [app, handler]
    holder.append(holder)
    handler.conn = pressmark.WithEvents(pressmark.CreatePDF(), handler)
    handler.self = handler
    del app, handler, holder
    gc.collect()
    assert not running_excel()


def test_an_object_dropped_on_another_thread_is_released_on_its_own():
    box = [pressmark.Dispatch("Excel.Application")]
    on_thread(box.clear)
    # Parked for this thread: released at its next call.
    assert not running_excel()


def test_dispatch_with_events_as_pywin32(tmp_path):
    class Handler:
        def __init__(self): self.done = []
        def OnJobDone(self, ps, out): self.done.append(out)

    pdf = pressmark.DispatchWithEvents("Pressmark.CreatePDF", Handler)
    pdf.TempFilePath = str(tmp_path)
    assert "TempFilePath" not in vars(pdf) and pdf.TempFilePath == pdf._oleobj_.TempFilePath
    ps = conftest.write_ps(tmp_path / "in.ps", "one")
    pdf.CreatePDFfromPS(str(tmp_path / "out.pdf"), ps)
    assert pdf.done == [str(tmp_path / "out.pdf")]
