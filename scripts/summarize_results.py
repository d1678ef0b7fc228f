"""Adds up JUnit XML result files and prints the closing line."""
import sys
import xml.etree.ElementTree as ET


def count(path):
    root = ET.parse(path).getroot()
    suites = [root] if root.tag == "testsuite" else root.findall("testsuite")
    total = failed = skipped = 0
    for s in suites:
        total += int(s.get("tests", 0))
        failed += int(s.get("failures", 0)) + int(s.get("errors", 0))
        skipped += int(s.get("skipped", s.get("disabled", 0)) or 0)
    return total, failed, skipped


def main(paths):
    total = failed = skipped = 0
    for p in paths:
        try:
            t, f, s = count(p)
        except (OSError, ET.ParseError) as e:
            print(f"{p}: unreadable ({e})")
            failed += 1
            continue
        print(f"{p.rsplit('/', 1)[-1]}: {t - f - s} passed, {f} failed, {s} skipped")
        total += t
        failed += f
        skipped += s
    passed = total - failed - skipped
    print(f"tests: {passed} passed, {failed} failed, {skipped} skipped")
    return 0 if failed == 0 and passed > 0 else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
