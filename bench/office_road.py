#!/usr/bin/python3
"""Warm CreatePDFfromWord, CreatePDFfromExcel and CreatePDFfromPowerPoint
against the office's own PDF export, and where the time between them goes.

    /usr/bin/python3 bench/office_road.py [build-dir] [--runs N] [--against OTHER-BUILD-DIR]
    (the system Python holds uno)

For a 1-page and a 20-page rich-text document, spreadsheet and presentation:
the median of N warm conversions through one `pressmark shell` (the office
service started once, before the timed calls), against the median of N
exports of the same document (load, the office's PDF export, close) by a
bare office
listening on a loopback port, driven from this process through Python's
`uno` module (Debian's python3-uno). Then, each alone on that same PDF,
the step the Distiller adds when it takes the office's PDF as it is (its
page count, by qpdf), and the steps of the print road that a PostScript
file, a page list or job options still take: pdftops, Ghostscript's start
(a job with one empty page) and Ghostscript distilling the PostScript.
Target: Pressmark at most 1.5x the export. Ratios compare figures of the
same run; the machine may be loaded, so the CPU seconds each call costs the
pressmark process and the children it waits for (the glue, not the office's
export) are shown too. --against times a second build's shell (an earlier
tree, say) interleaved with the first, call for call.
"""
import json
import os
import pathlib
import shutil
import socket
import statistics
import subprocess
import sys
import tempfile
import time


def option(name, default=None):
    return next((sys.argv[i + 1] for i, a in enumerate(sys.argv) if a == name), default)


OPTION_VALUES = {option(n) for n in ("--runs", "--against")}
BUILD = pathlib.Path(next((a for a in sys.argv[1:] if not a.startswith("--") and not a.isdigit()
                           and a not in OPTION_VALUES), "build"))
RUNS = int(option("--runs", "7"))
AGAINST = option("--against")


def document(pages):
    s = "{\\rtf1\\ansi\\deff0{\\fonttbl{\\f0 DejaVu Sans;}}\\paperw11906\\paperh16838\n"
    for i in range(1, pages + 1):
        if i > 1:
            s += "\\page\n"
        s += "\\pard\\f0\\fs24 Page %d." % i
        s += " Some words to fill the page with text of an ordinary kind." * 40
        s += "\\par\n"
    return s + "}\n"


def spreadsheet(pages):
    # About 48 rows of six columns fill a portrait A4 page.
    rows = 48 * pages
    cells = "".join("<table:table-row>" + "".join(
        '<table:table-cell office:value-type="string"><text:p>Row %d column %d text</text:p></table:table-cell>' % (r, c)
        for c in range(1, 7)) + "</table:table-row>\n" for r in range(1, rows + 1))
    return ('<?xml version="1.0" encoding="UTF-8"?>\n'
            '<office:document xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0" '
            'xmlns:table="urn:oasis:names:tc:opendocument:xmlns:table:1.0" '
            'xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0" office:version="1.2" '
            'office:mimetype="application/vnd.oasis.opendocument.spreadsheet">'
            '<office:body><office:spreadsheet><table:table table:name="Data">'
            '<table:table-column table:number-columns-repeated="6"/>\n' + cells +
            '</table:table></office:spreadsheet></office:body></office:document>\n'), "A1:F%d" % rows


def presentation(pages):
    slides = "".join(
        '<draw:page draw:name="p%d" draw:master-page-name="Default"><draw:frame svg:x="2cm" svg:y="2cm" '
        'svg:width="20cm" svg:height="4cm"><draw:text-box><text:p>Slide %d with a line of ordinary text</text:p>'
        '</draw:text-box></draw:frame></draw:page>\n' % (i, i) for i in range(1, pages + 1))
    return ('<?xml version="1.0" encoding="UTF-8"?>\n'
            '<office:document xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0" '
            'xmlns:style="urn:oasis:names:tc:opendocument:xmlns:style:1.0" '
            'xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0" '
            'xmlns:draw="urn:oasis:names:tc:opendocument:xmlns:drawing:1.0" '
            'xmlns:svg="urn:oasis:names:tc:opendocument:xmlns:svg-compatible:1.0" '
            'xmlns:fo="urn:oasis:names:tc:opendocument:xmlns:xsl-fo-compatible:1.0" office:version="1.2" '
            'office:mimetype="application/vnd.oasis.opendocument.presentation">'
            '<office:automatic-styles><style:page-layout style:name="PM1"><style:page-layout-properties '
            'fo:page-width="28cm" fo:page-height="15.75cm" style:print-orientation="landscape"/>'
            '</style:page-layout></office:automatic-styles><office:master-styles><style:master-page '
            'style:name="Default" style:page-layout-name="PM1"/></office:master-styles>'
            '<office:body><office:presentation>\n' + slides +
            '</office:presentation></office:body></office:document>\n')


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def timed(step):
    t = time.perf_counter()
    step()
    return time.perf_counter() - t


def median_of(step, runs=RUNS):
    step()  # warm
    return statistics.median(timed(step) for _ in range(runs))


def run(argv):
    subprocess.run(argv, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=300)


class Shell:
    """One `pressmark shell`: a call per line, its JSON result per line."""

    def __init__(self, env, build=None):
        build = pathlib.Path(build or BUILD)
        # A build's own library, whichever one the program was linked against.
        env = dict(env, LD_LIBRARY_PATH=str(build.resolve()))
        self.p = subprocess.Popen([str(build / "pressmark"), "shell"], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                  text=True, env=env)

    def cpu(self):
        """CPU seconds of the shell and of the children it has waited for."""
        fields = pathlib.Path("/proc/%d/stat" % self.p.pid).read_text().rsplit(")", 1)[1].split()
        return sum(int(f) for f in fields[11:15]) / os.sysconf("SC_CLK_TCK")

    def call(self, line):
        self.p.stdin.write(line + "\n")
        self.p.stdin.flush()
        while True:
            out = self.p.stdout.readline()
            if not out:
                raise SystemExit("pressmark shell ended")
            if out.startswith("error"):
                raise SystemExit(out.strip())
            if not out.startswith("event"):
                return out

    def close(self):
        self.p.stdin.close()
        self.p.wait(timeout=60)


class Office:
    """A bare office listening on a loopback port, driven through uno."""

    def __init__(self, folder):
        import uno  # noqa: F401  (python3-uno)
        from com.sun.star.beans import PropertyValue  # noqa: F401
        self.uno = uno
        port = free_port()
        profile = "file://" + str(folder / "anchor-profile")
        self.p = subprocess.Popen(["soffice", "--headless", "--invisible", "--norestore", "--nologo",
                                   "-env:UserInstallation=" + profile,
                                   "--accept=socket,host=127.0.0.1,port=%d;urp;" % port],
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        local = uno.getComponentContext()
        resolver = local.ServiceManager.createInstanceWithContext("com.sun.star.bridge.UnoUrlResolver", local)
        deadline = time.time() + 120
        while True:
            try:
                ctx = resolver.resolve("uno:socket,host=127.0.0.1,port=%d;urp;StarOffice.ComponentContext" % port)
                break
            except Exception:
                if time.time() > deadline:
                    raise
                time.sleep(0.3)
        self.desktop = ctx.ServiceManager.createInstanceWithContext("com.sun.star.frame.Desktop", ctx)

    def prop(self, name, value):
        from com.sun.star.beans import PropertyValue
        p = PropertyValue()
        p.Name, p.Value = name, value
        return p

    def export(self, src, pdf, pdf_filter="writer_pdf_Export"):
        doc = self.desktop.loadComponentFromURL(self.uno.systemPathToFileUrl(str(src)), "_blank", 0,
                                                (self.prop("Hidden", True),))
        try:
            doc.storeToURL(self.uno.systemPathToFileUrl(str(pdf)), (self.prop("FilterName", pdf_filter),))
        finally:
            doc.close(True)

    def stop(self):
        try:
            self.desktop.terminate()
        except Exception:
            pass
        try:
            self.p.wait(timeout=30)
        except subprocess.TimeoutExpired:
            self.p.kill()
            self.p.wait()


def main():
    folder = pathlib.Path(tempfile.mkdtemp(prefix="pm-bench-road-"))
    os.chmod(folder, 0o700)
    env = dict(os.environ, XDG_RUNTIME_DIR=str(folder / "xdg"))
    (folder / "xdg").mkdir(mode=0o700)
    office = shell = other = None
    try:
        office = Office(folder)
        shell = Shell(env)
        shell.call("TempFilePath = " + json.dumps(str(folder)))
        if AGAINST:
            other = Shell(env, AGAINST)
            other.call("TempFilePath = " + json.dumps(str(folder)))
        empty = folder / "empty.ps"
        empty.write_text("%!PS\nshowpage\n")
        gs_start = median_of(lambda: run(["gs", "-q", "-dSAFER", "-dBATCH", "-dNOPAUSE", "-sDEVICE=pdfwrite",
                                          "-sOutputFile=" + str(folder / "empty.pdf"), str(empty)]))
        print("machine load (1, 5, 15 minutes): %.2f %.2f %.2f" % os.getloadavg())
        print("Ghostscript start (a job of one empty page): %.3f s" % gs_start)
        for pages in (1, 20):
            src = folder / ("doc%d.rtf" % pages)
            src.write_text(document(pages))
            anchor_pdf, ours_pdf, ps = folder / ("anchor%d.pdf" % pages), folder / ("ours%d.pdf" % pages), \
                folder / ("pages%d.ps" % pages)
            word = "CreatePDFfromWord %s %s" % (json.dumps(str(ours_pdf)), json.dumps(str(src)))
            shells = [shell] + ([other] if other else [])
            times = [[] for _ in range(len(shells) + 1)]
            cpus = [[] for _ in shells]
            office.export(src, anchor_pdf)
            for s in shells:
                s.call(word)
            for _ in range(RUNS):
                times[0].append(timed(lambda: office.export(src, anchor_pdf)))
                for k, s in enumerate(shells):
                    c = s.cpu()
                    times[k + 1].append(timed(lambda: s.call(word)))
                    cpus[k].append(s.cpu() - c)
            anchor, ours = statistics.median(times[0]), statistics.median(times[1])
            if other:
                before = statistics.median(times[2])
                print("%2d page(s): the other build %s %.3f s, ratio %.2fx the export, CPU %.3f s a call" %
                      (pages, AGAINST, before, before / anchor, statistics.median(cpus[1])))
            print("%2d page(s): CPU seconds a call in the pressmark shell and its children %.3f s" %
                  (pages, statistics.median(cpus[0])))
            npages = median_of(lambda: run(["qpdf", "--show-npages", str(anchor_pdf)]))
            pdftops = median_of(lambda: run(["pdftops", "-level3", "-origpagesizes", str(anchor_pdf), str(ps)]))
            distill = median_of(lambda: run(["gs", "-q", "-dSAFER", "-dBATCH", "-dNOPAUSE", "-sDEVICE=pdfwrite",
                                             "-sOutputFile=" + str(folder / "gs.pdf"), str(ps)]))
            print("%2d page(s): CreatePDFfromWord %.3f s, office export %.3f s, ratio %.2fx (target <= 1.5x)" %
                  (pages, ours, anchor, ours / anchor))
            print("    the Distiller's page count of the office's PDF (qpdf) %.3f s; the rest is the calls and the "
                  "files %.3f s" % (npages, ours - anchor - npages))
            print("    the print road (a PostScript file, a page list, job options): pdftops %.3f s, "
                  "Ghostscript on the PostScript %.3f s (of which start %.3f s)" % (pdftops, distill, gs_start))
        for pages in (1, 20):
            book, cells = spreadsheet(pages)
            (folder / ("book%d.fods" % pages)).write_text(book)
            (folder / ("show%d.fodp" % pages)).write_text(presentation(pages))
            for kind, src, pdf_filter, line in (
                    ("spreadsheet", folder / ("book%d.fods" % pages), "calc_pdf_Export",
                     lambda src, out: "CreatePDFfromExcel %s %s Data %s" % (json.dumps(str(out)), json.dumps(str(src)),
                                                                           cells)),
                    ("presentation", folder / ("show%d.fodp" % pages), "impress_pdf_Export",
                     lambda src, out: "CreatePDFfromPowerPoint %s %s" % (json.dumps(str(out)), json.dumps(str(src))))):
                anchor_pdf, ours_pdf = folder / ("anchor-%s.pdf" % kind), folder / ("ours-%s.pdf" % kind)
                anchor = median_of(lambda: office.export(src, anchor_pdf, pdf_filter))
                ours = median_of(lambda: shell.call(line(src, ours_pdf)))
                print("%2d page(s) %s: %s %.3f s, office export %.3f s, ratio %.2fx (target <= 1.5x)" %
                      (pages, kind, line(src, ours_pdf).split()[0], ours, anchor, ours / anchor))
        print("machine load (1, 5, 15 minutes): %.2f %.2f %.2f" % os.getloadavg())
    finally:
        for s in (shell, other):
            if s:
                s.close()
        if office:
            office.stop()
        subprocess.run([str(BUILD / "pressmark"), "office", "stop"], env=env, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=60)
        shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    main()
