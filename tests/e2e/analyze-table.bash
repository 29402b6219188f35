# The table loop of the analysis suites. Each row on standard input:
#   name|shell words that write ./cap|extra framedig options|exit status|check
# where check is a Python expression over the JSON report d (cs is
# d["channel_status"], s is d["signal"], f is the findings joined by "|",
# text is the text report). For every row the text report must fit 80
# columns and its findings, unwrapped, must be the JSON findings, whole.
# FRAMEDIG names the program; EMULATOR, if set, runs it.

analyze_table() {
    local name make args want check code
    while IFS='|' read -r name make args want check; do
        rm -f cap report.json report.txt
        eval "$make" > cap
        code=0
        $EMULATOR "$FRAMEDIG" --analyze --json $args -i cap -o report.json > /dev/null || code=$?
        $EMULATOR "$FRAMEDIG" --analyze $args -i cap -o report.txt > /dev/null || true
        python3 - "$check" <<'PY' || { echo "$name: $(head -c 3000 report.json)" >&2; return 1; }
import json, sys
d = json.load(open("report.json"))
cs, s = d["channel_status"], d["signal"]
f = "|".join(d["findings"])
text = open("report.txt").read()
assert eval(sys.argv[1]), sys.argv[1]
lines = text.splitlines()
assert all(len(line) <= 80 for line in lines), "text report wider than 80 columns"
found = []
for line in lines[lines.index("Findings") + 1:]:
    if line.startswith("    "):
        found[-1] += " " + line.strip()
    elif line != "  none":
        found.append(line.strip())
assert found == d["findings"], (found, d["findings"])
PY
        [ "$code" -eq "$want" ] || { echo "$name: exit $code, wanted $want" >&2; return 1; }
    done
}
