"""Reads the page of metrics_sample_page with the Prometheus client's text
parser and checks that names, label values and numbers survive, that
bucket bounds are short, and that the inventory families survive too."""
import subprocess
import sys

from prometheus_client.parser import text_string_to_metric_families

EVIL = 'LIB "A\\B"\nline2'

page = subprocess.run([sys.argv[1]], check=True, capture_output=True, text=True).stdout
families = {f.name: f for f in text_string_to_metric_families(page)}
samples = {}
for f in families.values():
    for s in f.samples:
        samples[(s.name, tuple(sorted(s.labels.items())))] = s.value


def value(name, **labels):
    return samples[(name, tuple(sorted(labels.items())))]


errors = []


def check(what, got, want):
    if got != want:
        errors.append(f"{what}: {got!r} != {want!r}")


check("moves ok", value("d2t_moves_total", library=EVIL, kind="load", result="ok"), 1.0)
check("moves failed", value("d2t_moves_total", library=EVIL, kind="load", result="failed"), 1.0)
check("bucket 600", value("d2t_move_duration_seconds_bucket", library=EVIL, kind="load", le="600"), 1.0)
check("bucket inf", value("d2t_move_duration_seconds_bucket", library=EVIL, kind="load", le="+Inf"), 2.0)
check("sum", value("d2t_move_duration_seconds_sum", library=EVIL, kind="load"), 712.5)
check("scans", [value("d2t_scans_total", library=EVIL, result=r) for r in ("ok", "failed")], [1.0, 1.0])
check("scan count (completed only)", value("d2t_scan_duration_seconds_count", library=EVIL), 1.0)
check("http", value("d2t_http_requests_total", route="/d2/r/tapectl/info", code="200"), 1.0)
# Bounds in their shortest form, as written on the page (the parser would
# also accept the long form, so the text is read).
bounds = sorted({line.split('le="')[1].split('"')[0]
                 for line in page.splitlines() if line.startswith("d2t_http_request_duration_seconds_bucket")})
check("short bounds", [b for b in bounds if len(b) > 6], [])
check("0.025 bound", "0.025" in bounds, True)
check("read errors", value("d2t_inventory_read_errors_total"), 0.0)
build = [s for s in families["d2t_build_info"].samples]
check("build info", [(s.value, bool(s.labels.get("version")), bool(s.labels.get("revision"))) for s in build],
      [(1.0, True, True)])
check("faulty", value("d2t_drive_faulty", library=EVIL, drive="D\\1"), 1.0)
check("failures", value("d2t_drive_failures", library=EVIL, drive="D\\1"), 3.0)
check("drive host", value("d2t_drive_info", library=EVIL, drive="D\\1", host_id='H"1'), 1.0)
check("readable", value("d2t_inventory_readable"), 1.0)
check("slots", {s: value("d2t_slots", library=EVIL, state=s)
                for s in ("full", "empty", "in_drive", "unlabelled", "cleaning", "porter")},
      {"full": 1.0, "empty": 0.0, "in_drive": 0.0, "unlabelled": 0.0, "cleaning": 0.0, "porter": 0.0})
check("unreadable", value("unreadable_d2t_inventory_readable"), 0.0)
check("unreadable families kept", sorted(n for n in families if n.startswith("unreadable_")),
      ["unreadable_d2t_drive_failures", "unreadable_d2t_drive_faulty", "unreadable_d2t_drive_info",
       "unreadable_d2t_inventory_readable",
       "unreadable_d2t_slots"])
check("help", families["help_check"].documentation, "Help with \\ and\nnewline.")
check("types", {n: f.type for n, f in families.items() if n.startswith("d2t_")}, {
    "d2t_moves": "counter", "d2t_move_duration_seconds": "histogram", "d2t_scans": "counter",
    "d2t_scan_duration_seconds": "histogram", "d2t_http_requests": "counter",
    "d2t_http_request_duration_seconds": "histogram", "d2t_http_abandoned": "counter",
    "d2t_inventory_read_errors": "counter",
    "d2t_build_info": "gauge", "d2t_inventory_readable": "gauge", "d2t_drive_failures": "gauge",
    "d2t_drive_faulty": "gauge", "d2t_drive_info": "gauge", "d2t_slots": "gauge"})

if errors:
    print("\n".join(errors))
    print(page)
    sys.exit(1)
print(f"parsed {len(samples)} samples of {len(families)} families")
