# The faults the service absorbs, without an engine: an office lost under a
# job runs it once more, a second loss is a retryable 503, and no problem text
# keeps a server path.
import pytest

import pressmark
from pressmark.service import faults

ENDED = pressmark.AutomationError(-2147417848, "Pressmark office server", "The office program ended during opening")
HUNG = pressmark.AutomationError(-2147417825, "Pressmark office server", "The office program did not answer")
STARTING = pressmark.AutomationError(429, "Pressmark", "The office program ended while starting.")
OTHER = pressmark.AutomationError(53, "Pressmark", "File not found")
NO_OBJECT = pressmark.AutomationError(429, "Pressmark", "ActiveX component can't create object")


# (what each run raises, None for success; outcome: "done", or the exception class raised)
@pytest.mark.parametrize("runs,outcome,tries,cleared", [
    ([None], "done", 1, 0),
    ([ENDED, None], "done", 2, 1),
    ([HUNG, None], "done", 2, 1),
    ([STARTING, None], "done", 2, 1),
    ([ENDED, HUNG], faults.OfficeUnavailable, 2, 1),
    ([NO_OBJECT], pressmark.AutomationError, 1, 0),
    ([OTHER], pressmark.AutomationError, 1, 0),
    ([ENDED, OTHER], pressmark.AutomationError, 2, 1),
])
def test_office_lost_runs_again_once(runs, outcome, tries, cleared):
    calls, clears = [], []

    def attempt():
        calls.append(1)
        if runs[len(calls) - 1] is not None:
            raise runs[len(calls) - 1]
        return "done"
    if outcome == "done":
        assert faults.run_twice(attempt, lambda: clears.append(1)) == "done"
    else:
        with pytest.raises(outcome) as raised:
            faults.run_twice(attempt, lambda: clears.append(1))
        assert type(raised.value) is outcome
    assert (len(calls), len(clears)) == (tries, cleared)


@pytest.mark.parametrize("text,want", [
    ("The office program ended during opening /srv/state/jobs/0f/in/1-w.docx (bridge disposed)",
     "The office program ended during opening letter.docx (bridge disposed)"),
    ("cannot write '/srv/state/jobs/0f/out/letter.pdf'", "cannot write 'letter.pdf'"),
    ("temporary file /srv/state/tmp/12-34/x1.ps; folder /srv/state", "temporary file x1.ps; folder …"),
    ("store /mnt/farm/jobs/0f/in/2-b.pdf", "store b.pdf"),
    ("/srv/statement.pdf is no job's", "/srv/statement.pdf is no job's"),
])
def test_problems_keep_no_server_path(text, want):
    inputs = [("/srv/state/jobs/0f/in/1-w.docx", "letter.docx"), ("/mnt/farm/jobs/0f/in/2-b.pdf", "b.pdf")]
    assert faults.scrub(text, inputs, ["/srv/state", "/mnt/farm/"]) == want
