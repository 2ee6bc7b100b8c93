#!/usr/bin/env python3
"""Keeps the collection folder of collect.yml and builds its fleet table.

    fleet_report.py RUN_JSON COLLECT_DIR

RUN_JSON describes one run of the playbook: {"hosts": {"<host>": {"status":
"ok" | "failed" | "timeout" | "unreachable", "message": "...", "requests":
["Class;Prop,Prop", ...]}}}. What a host brought in this run waits in
COLLECT_DIR/.incoming/<host>/. A host whose run is "ok" gets that folder as
its new COLLECT_DIR/<host>/; any other host keeps its earlier files, and what
the failed run brought goes to COLLECT_DIR/<host>/failed/. Every host's
status.json then says how its last run went and when its files were
collected.

From every host folder with a status.json, the script writes
COLLECT_DIR/fleet.csv (host, status, time, version, one column per
requested Class.Property) and COLLECT_DIR/fleet.html, a page that needs
nothing but itself. Values come from each host's Model.json, the capture
tool's --json document; a missing document, class or property gives empty
cells.

Python 3 standard library only: it runs on the Ansible controller.
"""

import csv
import datetime
import html
import json
import os
import shutil
import sys

INCOMING = ".incoming"
STATUS = "status.json"
# What the charts count, captured on every host whether requested or not.
MODEL = ("Win32_ComputerSystem", "Model")
BIOS = ("Win32_BIOS", "SMBIOSBIOSVersion")
SYSTEM = ("Win32_OperatingSystem", "Caption")
CHART_COLUMNS = [MODEL, BIOS, SYSTEM]
FIXED = ["host", "status", "time", "version"]


def utc_now():
    return datetime.datetime.now(datetime.timezone.utc).strftime(
        "%Y-%m-%dT%H:%M:%SZ")


def read_json(path):
    """The document at path, or None when it is missing or not JSON."""
    try:
        with open(path, encoding="utf-8") as f:
            return json.load(f)
    except (OSError, ValueError):
        return None


def write_json(path, value):
    with open(path + ".tmp", "w", encoding="utf-8") as f:
        json.dump(value, f, indent=1, ensure_ascii=False)
        f.write("\n")
    os.replace(path + ".tmp", path)


def settle(root, run, now):
    """Moves each host's new files into place and records its run."""
    incoming = os.path.join(root, INCOMING)
    for host, outcome in sorted(run["hosts"].items()):
        folder = os.path.join(root, host)
        staged = os.path.join(incoming, host)
        earlier = read_json(os.path.join(folder, STATUS)) or {}
        status = {"status": outcome.get("status", "unreachable"),
                  "message": outcome.get("message", ""), "run": now,
                  "collected": earlier.get("collected")}
        if status["status"] == "ok" and os.path.isdir(staged):
            # The complete new collection replaces the old one as a whole.
            status["collected"] = now
            write_json(os.path.join(staged, STATUS), status)
            if os.path.isdir(folder):
                old = os.path.join(incoming, host + ".old")
                shutil.rmtree(old, ignore_errors=True)
                os.rename(folder, old)
            os.rename(staged, folder)
            continue
        os.makedirs(folder, exist_ok=True)
        failed = os.path.join(folder, "failed")
        shutil.rmtree(failed, ignore_errors=True)
        if os.path.isdir(staged) and os.listdir(staged):
            os.rename(staged, failed)
        said = status["message"].strip()
        if said and said[-1] not in ".!?":
            said += "."
        if status["collected"] is None:
            said += " Nothing collected from this host yet."
        else:
            said += " Keeping the files collected at %s." % status["collected"]
        status["message"] = said.strip()
        write_json(os.path.join(folder, STATUS), status)
    shutil.rmtree(incoming, ignore_errors=True)


def requested_columns(requests):
    """(class, property or '*') pairs in the order the requests name them."""
    columns = []
    for request in requests:
        name, _, properties = request.partition(";")
        for prop in properties.split(","):
            if name and prop and (name, prop) not in columns:
                columns.append((name, prop))
    return columns


def lookup(mapping, name):
    """mapping[name] with WMI's case-insensitive names, or None."""
    if not isinstance(mapping, dict):
        return None
    for key, value in mapping.items():
        if key.lower() == name.lower():
            return value
    return None


def text(value):
    if value is None:
        return ""
    if isinstance(value, bool):
        return "TRUE" if value else "FALSE"
    if isinstance(value, list):
        return ", ".join(text(v) for v in value)
    if isinstance(value, dict):
        return json.dumps(value, ensure_ascii=False, separators=(",", ":"))
    return str(value)


def instances(document, name):
    found = lookup(document.get("classes") if document else None, name)
    return [i for i in found if isinstance(i, dict)] if isinstance(
        found, list) else []


def expand(columns, documents):
    """Every Class.* becomes the class's properties seen in any document."""
    out = []
    for name, prop in columns:
        if prop != "*":
            if (name, prop) not in out:
                out.append((name, prop))
            continue
        seen = {}
        for document in documents:
            for instance in instances(document, name):
                for key in instance:
                    seen.setdefault(key.lower(), key)
        out.extend((name, key) for key in seen.values()
                   if (name, key) not in out)
    return out


def table(root, requests):
    """The fleet table: its header and one row per host."""
    hosts = sorted(h for h in os.listdir(root)
                   if not h.startswith(".") and os.path.isfile(
                       os.path.join(root, h, STATUS)))
    documents = {h: read_json(os.path.join(root, h, "Model.json"))
                 for h in hosts}
    documents = {h: d if isinstance(d, dict) else None
                 for h, d in documents.items()}
    columns = expand(requested_columns(requests), documents.values())
    named = {(c.lower(), p.lower()) for c, p in columns}
    columns += [c for c in CHART_COLUMNS
                if (c[0].lower(), c[1].lower()) not in named]
    header = FIXED + ["%s.%s" % c for c in columns]
    rows = []
    for host in hosts:
        status = read_json(os.path.join(root, host, STATUS)) or {}
        document = documents[host] or {}
        row = [host, status.get("status", ""), status.get("collected") or "",
               text(document.get("version"))]
        for name, prop in columns:
            values = [text(lookup(i, prop)) for i in instances(document, name)]
            row.append("; ".join(values))
        rows.append(row)
    return header, rows


def counts(header, rows, *columns):
    """Hosts per value (or per tuple of values) of the given columns."""
    names = [h.lower() for h in header]
    where = [names.index(("%s.%s" % c).lower()) for c in columns]
    tally = {}
    for row in rows:
        key = tuple(row[i] or "(unknown)" for i in where)
        tally[key] = tally.get(key, 0) + 1
    return sorted(tally.items(), key=lambda kv: (-kv[1], kv[0]))


def chart(name, title, tally):
    most = max([n for _, n in tally] + [1])
    bars = []
    for key, n in tally:
        label = " / ".join(key)
        bars.append(
            '<div class="bar" data-key="%s" data-count="%d" title="%s">'
            '<span class="label">%s</span><span class="track"><span '
            'class="fill" style="width:%.1f%%"></span></span>'
            '<span class="n">%d</span></div>' %
            (html.escape(json.dumps(list(key), ensure_ascii=False)), n,
             html.escape(label), html.escape(label), 100.0 * n / most, n))
    return ('<section class="chart" id="chart-%s"><h2>%s</h2>%s</section>' %
            (name, html.escape(title), "".join(bars)))


PAGE = """<!DOCTYPE html>
<html lang="en"><head><meta charset="utf-8">
<meta http-equiv="Content-Security-Policy" content="default-src 'none'; \
style-src 'unsafe-inline'; script-src 'unsafe-inline'">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>Fleet: %(hosts)d hosts</title>
<style>
body{font:14px system-ui,sans-serif;margin:1.5em;color:#222}
.charts{display:flex;flex-wrap:wrap;gap:2em}
.chart{flex:1 1 20em}.chart h2{font-size:1.05em}
.bar{display:flex;align-items:center;gap:.5em;margin:.2em 0}
.label{flex:0 0 14em;overflow:hidden;text-overflow:ellipsis;white-space:nowrap}
.track{flex:1;background:#eee;height:1em}.fill{display:block;height:100%%;\
background:#3a6ea5}
.n{flex:0 0 2.5em;text-align:right}
input{font:inherit;padding:.3em;width:20em;margin:1em 0}
table{border-collapse:collapse}
th,td{border:1px solid #ccc;padding:.25em .5em;text-align:left;\
vertical-align:top}
th{background:#f3f3f3;cursor:pointer;user-select:none;position:sticky;top:0}
th[aria-sort=ascending]::after{content:" \\25B2"}
th[aria-sort=descending]::after{content:" \\25BC"}
tr.stale td{background:#fff4e0}
</style></head><body>
<h1>Fleet</h1>
<p>%(hosts)d hosts, built %(now)s. Rows in orange: the last run failed; \
they show the files of the time given.</p>
<div class="charts">%(charts)s</div>
<input id="filter" type="search" placeholder="Filter rows" \
aria-label="Filter rows"> <span id="shown"></span>
<table id="fleet"><thead><tr>%(head)s</tr></thead>
<tbody>%(body)s</tbody></table>
<script>
"use strict";
(function () {
  var body = document.querySelector("#fleet tbody");
  var heads = document.querySelectorAll("#fleet th");
  var filter = document.getElementById("filter");
  var shown = document.getElementById("shown");
  function show() {
    var words = filter.value.toLowerCase().split(/\\s+/).filter(Boolean);
    var n = 0;
    Array.prototype.forEach.call(body.rows, function (row) {
      var line = row.textContent.toLowerCase();
      var keep = words.every(function (w) { return line.indexOf(w) >= 0; });
      row.hidden = !keep;
      if (keep) n++;
    });
    shown.textContent = n + " of " + body.rows.length + " rows";
  }
  // Numbers compare as numbers, everything else as text.
  function compare(a, b) {
    var x = Number(a), y = Number(b);
    if (a !== "" && b !== "" && !isNaN(x) && !isNaN(y)) return x - y;
    return a.localeCompare(b, undefined, {numeric: true});
  }
  Array.prototype.forEach.call(heads, function (th, column) {
    th.addEventListener("click", function () {
      var down = th.getAttribute("aria-sort") === "ascending";
      Array.prototype.forEach.call(heads, function (h) {
        h.removeAttribute("aria-sort");
      });
      th.setAttribute("aria-sort", down ? "descending" : "ascending");
      var rows = Array.prototype.slice.call(body.rows);
      rows.sort(function (r, s) {
        var d = compare(r.cells[column].textContent,
                        s.cells[column].textContent);
        return down ? -d : d;
      });
      rows.forEach(function (r) { body.appendChild(r); });
    });
  });
  filter.addEventListener("input", show);
  show();
})();
</script>
</body></html>
"""


def page(header, rows, now):
    charts = [
        chart("model", "Hosts per model", counts(header, rows, MODEL)),
        chart("bios", "Hosts per BIOS version of each model",
              counts(header, rows, MODEL, BIOS)),
        chart("system", "Hosts per operating system",
              counts(header, rows, SYSTEM)),
    ]
    head = "".join("<th scope=\"col\">%s</th>" % html.escape(h)
                   for h in header)
    body = "".join(
        '<tr%s>%s</tr>' % ("" if row[1] == "ok" else ' class="stale"',
                           "".join("<td>%s</td>" % html.escape(c)
                                   for c in row)) for row in rows)
    return PAGE % {"hosts": len(rows), "now": now, "charts": "".join(charts),
                   "head": head, "body": body}


def main(argv):
    if len(argv) != 3:
        sys.stderr.write("usage: fleet_report.py RUN_JSON COLLECT_DIR\n")
        return 2
    run = read_json(argv[1])
    if not isinstance(run, dict) or not isinstance(run.get("hosts"), dict):
        sys.stderr.write("fleet_report.py: %s: not a run description\n" %
                         argv[1])
        return 2
    root = argv[2]
    now = utc_now()
    settle(root, run, now)
    requests = [r for outcome in run["hosts"].values()
                for r in outcome.get("requests") or []]
    header, rows = table(root, requests)
    with open(os.path.join(root, "fleet.csv.tmp"), "w", encoding="utf-8",
              newline="") as f:
        csv.writer(f).writerows([header] + rows)
    os.replace(os.path.join(root, "fleet.csv.tmp"),
               os.path.join(root, "fleet.csv"))
    with open(os.path.join(root, "fleet.html.tmp"), "w",
              encoding="utf-8") as f:
        f.write(page(header, rows, now))
    os.replace(os.path.join(root, "fleet.html.tmp"),
               os.path.join(root, "fleet.html"))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
