#!/usr/bin/python3
"""Compares two PST files property by property, read with libpff (pypff).

    scripts/pst-properties.py A.pst B.pst

Every property of the message store, of every folder (by its path), of every
message (by its folder and its place among the messages of the same subject
there), of its recipients and of its attachments (recursively, embedded
messages too) is compared. Messages are matched by folder and subject, not by
their order, since the order in which a file system lists the files differs
between systems. Prints the properties that differ, with how often, and
exits 1 when any of them is not one that must differ between two
conversions (the times of the conversion, random ids, the store's record
key and what is built from it). The two files must come from the same
files imported in the same order (named properties are numbered in the
order they are first met).
"""
import collections
import sys

import pypff

# Properties that differ between two conversions of the same files: the
# times of the conversion, the store's record key and the entry ids and
# search keys built from it or from random ids.
VOLATILE = {
    0x0FF9: "PR_RECORD_KEY",
    0x0FFA: "PR_STORE_RECORD_KEY",
    0x0FFB: "PR_STORE_ENTRYID",
    0x0FFF: "PR_ENTRYID",
    0x0E09: "PR_PARENT_ENTRYID",
    0x300B: "PR_SEARCH_KEY",
    0x3007: "PR_CREATION_TIME",
    0x3008: "PR_LAST_MODIFICATION_TIME",
    0x35E0: "PR_IPM_SUBTREE_ENTRYID",
    0x35E2: "PR_IPM_OUTBOX_ENTRYID",
    0x35E3: "PR_IPM_WASTEBASKET_ENTRYID",
    0x35E4: "PR_IPM_SENTMAIL_ENTRYID",
    0x35E5: "PR_VIEWS_ENTRYID",
    0x35E6: "PR_COMMON_VIEWS_ENTRYID",
    0x35E7: "PR_FINDER_ENTRYID",
    0x36D0: "PR_IPM_APPOINTMENT_ENTRYID",
    0x36D1: "PR_IPM_CONTACT_ENTRYID",
    0x36D2: "PR_IPM_JOURNAL_ENTRYID",
    0x36D3: "PR_IPM_NOTE_ENTRYID",
    0x36D4: "PR_IPM_TASK_ENTRYID",
    0x36D5: "PR_REM_ONLINE_ENTRYID",
    0x36D7: "PR_IPM_DRAFTS_ENTRYID",
    0x36D8: "PR_ADDITIONAL_REN_ENTRYIDS",
    0x36D9: "PR_ADDITIONAL_REN_ENTRYIDS_EX",
    0x36E4: "PR_FREEBUSY_ENTRYIDS",
    0x0E34: "PR_REPLICA_VERSION",
}
# The store's display name carries the date stamp of the conversion.
STORE_ONLY = {0x3001: "PR_DISPLAY_NAME (the store's, with the date stamp)"}


def entries(item):
    out = {}
    for rs in item.record_sets:
        for e in rs.entries:
            out[(e.entry_type, e.value_type)] = bytes(e.data) if e.data is not None else None
    return out


def subject_of(item):
    props = entries(item)
    for vt in (0x1F, 0x1E):
        v = props.get((0x0037, vt))
        if v is not None:
            return v
    return b""


def message_props(m, key, out):
    out[key] = entries(m)
    try:
        recipients = m.recipients
    except Exception:
        recipients = None
    if recipients is not None:
        for i, rs in enumerate(recipients.record_sets):
            out[key + ("recipient", i)] = {(e.entry_type, e.value_type): bytes(e.data) if e.data is not None else None
                                           for e in rs.entries}
    for i in range(m.number_of_attachments):
        a = m.get_attachment(i)
        out[key + ("attachment", i)] = entries(a)
        try:
            embedded = a.get_embedded_message() if hasattr(a, "get_embedded_message") else None
        except Exception:
            embedded = None
        if embedded is not None:
            message_props(embedded, key + ("attachment", i, "message"), out)


def collect(path):
    f = pypff.file()
    f.open(path)
    out = {("store",): entries(f.get_message_store())}

    def walk(folder, where):
        out[("folder", where)] = entries(folder)
        seen = collections.Counter()
        for m in folder.sub_messages:
            s = subject_of(m)
            seen[s] += 1
            message_props(m, ("message", where, s, seen[s]), out)
        for sub in folder.sub_folders:
            walk(sub, where + "/" + (sub.name or ""))

    walk(f.get_root_folder(), "")
    f.close()
    return out


def main():
    if len(sys.argv) != 3:
        print(__doc__.strip().splitlines()[2].strip(), file=sys.stderr)
        return 2
    a, b = collect(sys.argv[1]), collect(sys.argv[2])
    differing = collections.Counter()
    structure = []
    for key in sorted(set(a) | set(b), key=repr):
        if key not in a or key not in b:
            structure.append(("only in " + (sys.argv[1] if key in a else sys.argv[2]), key))
            continue
        pa, pb = a[key], b[key]
        for tag in set(pa) | set(pb):
            if pa.get(tag, "absent") != pb.get(tag, "absent"):
                differing[(tag, key == ("store",))] += 1
    compared = sum(len(p) for p in a.values())
    print(f"{len(a)} objects, {compared} properties compared")
    bad = bool(structure)
    for where, key in structure[:20]:
        print(f"  {where}: {key}")
    for ((tag, vt), in_store), n in sorted(differing.items()):
        allowed = tag in VOLATILE or (in_store and tag in STORE_ONLY)
        name = VOLATILE.get(tag, STORE_ONLY.get(tag, ""))
        print(f"  0x{tag:04X}{vt:04X} {name}: differs in {n} object(s){'' if allowed else '  <- must not differ'}")
        bad = bad or not allowed
    print("only the conversion's times, ids and record key differ" if not bad else "PSTs differ in content")
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main())
