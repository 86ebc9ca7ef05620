"""Reads the page of metrics_sample_page with the Prometheus client's text
parser and checks that names, label values and numbers survive."""
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
check("scan count", value("d2t_scan_duration_seconds_count", library=EVIL), 1.0)
check("http", value("d2t_http_requests_total", route="/d2/r/tapectl/info", code="200"), 1.0)
check("faulty", value("d2t_drive_faulty", library=EVIL, drive="D\\1"), 1.0)
check("types", {n: f.type for n, f in families.items()}, {
    "d2t_moves": "counter", "d2t_move_duration_seconds": "histogram",
    "d2t_scan_duration_seconds": "histogram", "d2t_http_requests": "counter",
    "d2t_http_request_duration_seconds": "histogram", "d2t_drive_faulty": "gauge"})
check("help", families["d2t_drive_faulty"].documentation, "Help with \\ and\nnewline.")

if errors:
    print("\n".join(errors))
    print(page)
    sys.exit(1)
print(f"parsed {len(samples)} samples of {len(families)} families")
