# The peer of the mail merge bench: the same fill-and-save per record done in process with
# PyMuPDF (Debian's python3-fitz, run by /usr/bin/python3) — open the form, set the six fields
# and the title, save NNNN-Name.pdf, close — over the same CSV. No progress, no report, no
# read-back of the saved file: a bar to pass, not a like-for-like job.
#
#   /usr/bin/python3 bench/e2e/merge_pymupdf.py FORM.pdf MEMBERS.csv OUT_DIR
#
# Prints "records written seconds" on one line.
import csv
import re
import sys
import time

import fitz

form, members, out = sys.argv[1:4]
t0 = time.perf_counter()
with open(members, newline="", encoding="utf-8") as f:
    rows = list(csv.DictReader(f))
width = len(str(len(rows)))
written = 0
held = None
for n, row in enumerate(rows, 1):
    name = row["Name"]
    values = {
        "applicant.name": name,
        "applicant.city": row["City"],
        "email": row["Email"],
        "plan": row["Plan"],
        "country": row["Country"],
        "agree": "Ja" if row["Agree"] == "yes" else "Off",
    }
    doc = fitz.open(form)
    page = doc.load_page(0)  # the form has one page
    widgets = list(page.widgets())
    for w in widgets:
        value = values.get(w.field_name)
        if value is None:
            continue
        if w.field_type == fitz.PDF_WIDGET_TYPE_RADIOBUTTON:
            # One widget a state: the one whose "on" state is the value is set.
            if value not in w.button_states()["normal"]:
                continue
            w.field_value = True
        elif w.field_type == fitz.PDF_WIDGET_TYPE_CHECKBOX:
            w.field_value = value != "Off"
        else:
            w.field_value = value
        w.update()
    doc.set_metadata({"title": "Membership of " + name})
    safe = re.sub(r"[\x00-\x1f\x7f]", " ", name).strip()
    safe = re.sub(r"[ /\\:|]", "-", safe)
    safe = re.sub(r"[\"*?<>,']", "", safe)[:48].lstrip(".-")
    number = str(n).zfill(width)
    doc.save("%s/%s%s.pdf" % (out, number, "-" + safe if safe else ""), garbage=1)
    # PyMuPDF 1.21 (Debian's) fails a later page load ("SwigPyObject has no attribute
    # thisown") when a closed document's page and widgets are freed at once; they are held
    # until the next record's are made.
    doc.close()
    held = (page, widgets)
    written += 1
print(len(rows), written, "%.3f" % (time.perf_counter() - t0))
