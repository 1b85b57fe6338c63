#!/usr/bin/env python3
"""quorvanec check against an independent checker, linkchecker, on a real
site nobody here wrote: the Debian Policy manual (package debian-policy),
copied and then damaged in known places. Both must find the same broken
targets; where they differ by design the case is pinned below.

Usage: check_vs_linkchecker.py QUORVANEC   (exit 77: skipped)"""
import csv
import json
import os
import shutil
import subprocess
import sys
import tempfile
import urllib.parse

SITE = "/usr/share/doc/debian-policy/policy.html"
DAMAGE = ["_static/basic.css", "ch-docs.html", "_images/debian-policy-install-conffiles.png"]

# Renamed in letter case only: linkchecker, comparing as Linux does, finds
# it broken; the viewers compare names with A-Z case ignored, as Windows
# does, and show it. Ours is the answer that holds for the output.
RECASED = ("_static/pygments.css", "_static/Pygments.css")

# Found by us only, and rightly: linkchecker leaves addresses outside the
# start folder unchecked, while an output can serve no absolute address.
OURS_ONLY = {("absolute", "ch-opersys.html", "file:///usr/share/doc/debian-policy/fhs/")}

# Added to the home page, to a damaged page: the viewers serve the site at
# the root of its own address, so we find it broken there; on disk "/" is
# the disk's root, outside the start folder, which linkchecker leaves alone.
ROOTED = "/ch-docs.html"


def path_of(url):
    return urllib.parse.unquote(urllib.parse.urlsplit(url).path)


def main():
    quorvanec = sys.argv[1]
    if not os.path.isdir(SITE) or shutil.which("linkchecker") is None:
        print("skipped: needs debian-policy and linkchecker (scripts/install-deps)")
        return 77
    with tempfile.TemporaryDirectory() as tmp:
        os.chmod(tmp, 0o755)  # linkchecker run as root reads as nobody
        site = os.path.join(tmp, "policy")
        shutil.copytree(SITE, site)  # links into /usr/share/javascript become files
        for rel in DAMAGE:
            os.remove(os.path.join(site, rel))
        os.rename(os.path.join(site, RECASED[0]), os.path.join(site, RECASED[1]))
        home = os.path.join(site, "index.html")
        with open(home, encoding="utf-8") as f:
            text = f.read()
        with open(home, "w", encoding="utf-8") as f:
            f.write(text.replace("</body>", f'<a href="{ROOTED}">rooted</a></body>', 1))

        qp = os.path.join(tmp, "policy.qp")
        subprocess.run([quorvanec, "new", "--qpf", "--out", os.path.join(tmp, "policy.qpf"),
                        "--home", os.path.join(site, "index.html"), qp], check=True, stdout=subprocess.DEVNULL)
        run = subprocess.run([quorvanec, "check", "--json", qp], capture_output=True, text=True)
        assert run.returncode == 1, run.stderr
        ours = json.loads(run.stdout)

        config = os.path.join(tmp, "linkcheckerrc")
        open(config, "w").close()
        lc = subprocess.run(["linkchecker", "--no-warnings", "--no-status", "-f", config, "-o", "csv", "--verbose",
                             "file://" + urllib.parse.quote(site) + "/index.html"],
                            capture_output=True, text=True)
        rows = list(csv.DictReader((line for line in lc.stdout.splitlines() if not line.startswith("#")),
                                   delimiter=";"))
        assert rows, lc.stderr
        theirs = [r for r in rows if r["valid"] == "False"]
        assert ("missing", "index.html", ROOTED) in {(f["kind"], f["page"], f["reference"]) for f in ours["findings"]}
        assert not [r for r in theirs if r["urlname"] == ROOTED], ROOTED

        # The same targets are broken. linkchecker names each once, with the
        # first page it met it on; we name it on every page.
        broken_ours = set()
        for f in ours["findings"]:
            if f["kind"] in ("missing", "not-packed"):
                rooted = f["reference"].startswith("/") and not f["reference"].startswith("//")
                base = "file://" + urllib.parse.quote(site + "/" if rooted else os.path.join(site, f["page"]))
                reference = f["reference"].lstrip("/") if rooted else f["reference"]
                broken_ours.add(path_of(urllib.parse.urljoin(base, reference)))
        broken_theirs = {path_of(r["url"]) for r in theirs}
        assert broken_ours | {os.path.join(site, RECASED[0])} == broken_theirs, \
            (sorted(broken_ours), sorted(broken_theirs))
        assert broken_ours == {os.path.join(site, rel) for rel in DAMAGE}, sorted(broken_ours)
        ours_pairs = {(f["page"], f["reference"]) for f in ours["findings"]}
        for r in theirs:
            if path_of(r["url"]) == os.path.join(site, RECASED[0]):
                continue
            page = os.path.relpath(path_of(r["parentname"]), site)
            assert (page, r["urlname"]) in ours_pairs, (page, r["urlname"])

        others = {(f["kind"], f["page"], f["reference"]) for f in ours["findings"]
                  if f["kind"] not in ("missing", "not-packed")}
        assert others == OURS_ONLY, sorted(others)
        for kind, page, reference in OURS_ONLY:
            assert not [r for r in theirs if r["urlname"] == reference], reference

        print(f"{ours['pages']} pages, {ours['references']} references; "
              f"{len(ours['findings'])} findings, linkchecker {len(theirs)} broken of {len(rows)} checked: agree")
    return 0


if __name__ == "__main__":
    sys.exit(main())
