#!/usr/bin/python3
"""Round trips page -> Python -> settled promise through pywebview's JS API
(window.pywebview.api.<fn>): the same page, driver and counts as
webview_benchmark. Needs a display (Scripts/with-display) and Debian's
python3-webview (Benchmarks/round_trips installs it). Exits 77 when
pywebview is missing."""

import sys
import threading

try:
    import webview
except ImportError:
    print("pywebview is missing: apt-get install --no-install-recommends python3-webview "
          "gir1.2-webkit2-4.0 python3-gi-cairo", file=sys.stderr)
    sys.exit(77)

CALLS = 2000
PAGE = "data:text/html,<p>benchmark</p>"
LOAD_TIMEOUT_S = 60
# pywebview's page side looks for each answer every 100 ms, so 2200 calls
# one after the other take four minutes at best.
RUN_TIMEOUT_S = 900
CONCURRENT_LIMIT_S = 60

# As in WebViewBenchmark.cpp, after the API has been injected. The GTK
# backend carries each call in document.title, and title changes made in one
# turn of the page reach Python as one: calls made at once are lost, so the
# concurrent run waits a bounded time and reports how many were answered.
DRIVER = """
(function start() {
  if (!(window.pywebview && window.pywebview.api && window.pywebview.api.echo)) {
    setTimeout(start, 10);
    return;
  }
  var echo = window.pywebview.api.echo, report = window.pywebview.api.report;
  (async function () {
    for (var i = 0; i < 200; ++i) await echo(i);
    var t0 = performance.now();
    for (var i = 0; i < CALLS; ++i) await echo(i);
    var t1 = performance.now();
    var all = [], answered = 0;
    for (var i = 0; i < CALLS; ++i) all.push(echo(i).then(function () { ++answered; }));
    await Promise.race([Promise.all(all), new Promise(function (r) { setTimeout(r, LIMIT_MS); })]);
    var t2 = performance.now();
    report(t1 - t0, t2 - t1, answered);
  })();
})();
0
""".replace("CALLS", str(CALLS)).replace("LIMIT_MS", str(CONCURRENT_LIMIT_S * 1000))


class Api:
    def __init__(self):
        self.result = None
        self.done = threading.Event()

    def echo(self, value):
        return value

    def report(self, sequential, concurrent, answered):
        self.result = (float(sequential), float(concurrent), int(answered))
        self.done.set()


def backend_description():
    try:
        import gi
        gi.require_version("WebKit2", "4.0")
        from gi.repository import WebKit2
        return "GTK, WebKit2GTK 4.0 API, WebKit %d.%d.%d" % (
            WebKit2.get_major_version(), WebKit2.get_minor_version(), WebKit2.get_micro_version())
    except (ImportError, ValueError) as error:
        return "backend unknown (%s)" % error


def main():
    api = Api()
    window = webview.create_window("pywebview benchmark", url=PAGE, js_api=api)
    outcome = {}

    def drive():
        try:
            if not window.loaded.wait(LOAD_TIMEOUT_S):
                outcome["error"] = "the page did not load"
                return
            window.evaluate_js(DRIVER)
            if not api.done.wait(RUN_TIMEOUT_S):
                outcome["error"] = "no result in time"
        finally:
            window.destroy()

    webview.start(drive, gui="gtk")
    if "error" in outcome or api.result is None:
        print(outcome.get("error", "no result"), file=sys.stderr)
        return 1
    sequential, concurrent, answered = api.result
    if sequential <= 0 or concurrent <= 0:
        print("bad report %r" % (api.result,), file=sys.stderr)
        return 1
    version = getattr(webview, "__version__", None)
    if version is None:
        try:
            from importlib.metadata import version as package_version
            version = package_version("pywebview")
        except Exception:  # noqa: BLE001 (only for the label)
            version = "unknown"
    print("pywebview %s (%s)" % (version, backend_description()))
    print("pywebview, %d sequential calls: %.0f ms, %.0f round trips/s" % (CALLS, sequential,
                                                                           CALLS / sequential * 1000))
    if answered == CALLS:
        print("pywebview, %d concurrent calls: %.0f ms, %.0f round trips/s" % (CALLS, concurrent,
                                                                               CALLS / concurrent * 1000))
    else:
        print("pywebview, %d concurrent calls: %d answered in %.0f ms, the rest lost, 0 round trips/s" % (
            CALLS, answered, concurrent))
    return 0


if __name__ == "__main__":
    sys.exit(main())
