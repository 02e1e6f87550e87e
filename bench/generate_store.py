#!/usr/bin/env python3
"""Writes a realistic vdir calendar store for the benchmarks.

Fixed seed, so every run measures the same data: single-event .ics files spread
over two years in a few collections (some all-day, some weekly recurring, some
pinned to other time zones) and todos, half of them with due dates.
"""

import argparse
import datetime as dt
import os
import random
import uuid

COLLECTIONS = ["personal", "work", "family", "sport", "projects"]
ZONES = {
    "America/New_York": ("-0500", "-0400", "EST", "EDT", "3", "11"),
    "Asia/Tokyo": ("+0900", "+0900", "JST", "JST", None, None),
    "Europe/London": ("+0000", "+0100", "GMT", "BST", "3", "10"),
}
WORDS = ("review planning lunch call standup dentist gym report budget design "
         "release retro school pickup groceries flight train meeting demo sync").split()


def vtimezone(tzid):
    std, dst, std_name, dst_name, dst_month, std_month = ZONES[tzid]
    if dst_month is None:
        return ("BEGIN:VTIMEZONE\r\nTZID:%s\r\nBEGIN:STANDARD\r\nDTSTART:19700101T000000\r\n"
                "TZOFFSETFROM:%s\r\nTZOFFSETTO:%s\r\nTZNAME:%s\r\nEND:STANDARD\r\nEND:VTIMEZONE\r\n"
                % (tzid, std, std, std_name))
    return ("BEGIN:VTIMEZONE\r\nTZID:{z}\r\n"
            "BEGIN:DAYLIGHT\r\nDTSTART:19700308T020000\r\nRRULE:FREQ=YEARLY;BYMONTH={dm};BYDAY=2SU\r\n"
            "TZOFFSETFROM:{s}\r\nTZOFFSETTO:{d}\r\nTZNAME:{dn}\r\nEND:DAYLIGHT\r\n"
            "BEGIN:STANDARD\r\nDTSTART:19701101T020000\r\nRRULE:FREQ=YEARLY;BYMONTH={sm};BYDAY=1SU\r\n"
            "TZOFFSETFROM:{d}\r\nTZOFFSETTO:{s}\r\nTZNAME:{sn}\r\nEND:STANDARD\r\nEND:VTIMEZONE\r\n"
            ).format(z=tzid, dm=dst_month, sm=std_month, s=std, d=dst, sn=std_name, dn=dst_name)


def calendar(body, tz=None):
    head = "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//vantrel//bench generator//EN\r\n"
    return head + (vtimezone(tz) if tz else "") + body + "END:VCALENDAR\r\n"


def title(rng):
    return " ".join(rng.choice(WORDS) for _ in range(rng.randint(1, 4))).capitalize()


def event(rng, start_day, index):
    uid = str(uuid.UUID(int=rng.getrandbits(128), version=4))
    stamp = "20260101T000000Z"
    day = start_day + dt.timedelta(days=rng.randrange(730))
    lines = ["BEGIN:VEVENT", "UID:" + uid, "DTSTAMP:" + stamp, "SUMMARY:" + title(rng)]
    tz = None
    kind = rng.random()
    if kind < 0.10:
        lines += ["DTSTART;VALUE=DATE:" + day.strftime("%Y%m%d"),
                  "DTEND;VALUE=DATE:" + (day + dt.timedelta(days=rng.choice((1, 1, 2)))).strftime("%Y%m%d")]
    else:
        start = dt.datetime.combine(day, dt.time(rng.randrange(7, 20), rng.choice((0, 15, 30, 45))))
        end = start + dt.timedelta(minutes=rng.choice((30, 45, 60, 90, 120)))
        fmt = "%Y%m%dT%H%M%S"
        if rng.random() < 0.15:
            tz = rng.choice(sorted(ZONES))
            lines += ["DTSTART;TZID=%s:%s" % (tz, start.strftime(fmt)), "DTEND;TZID=%s:%s" % (tz, end.strftime(fmt))]
        else:
            lines += ["DTSTART:" + start.strftime(fmt), "DTEND:" + end.strftime(fmt)]
        if kind > 0.95:
            lines.append("RRULE:FREQ=WEEKLY;COUNT=%d" % rng.randrange(4, 60))
    if rng.random() < 0.4:
        lines.append("LOCATION:Room %d" % rng.randrange(1, 40))
    if rng.random() < 0.3:
        lines.append("DESCRIPTION:Notes for item %d\\, bring the %s" % (index, rng.choice(WORDS)))
    lines.append("END:VEVENT")
    return uid, calendar("\r\n".join(lines) + "\r\n", tz)


def todo(rng, start_day):
    uid = str(uuid.UUID(int=rng.getrandbits(128), version=4))
    lines = ["BEGIN:VTODO", "UID:" + uid, "DTSTAMP:20260101T000000Z", "CREATED:20260101T000000Z",
             "SUMMARY:" + title(rng), "STATUS:NEEDS-ACTION"]
    if rng.random() < 0.5:
        due = start_day + dt.timedelta(days=rng.randrange(730))
        if rng.random() < 0.5:
            lines.append("DUE;VALUE=DATE:" + due.strftime("%Y%m%d"))
        else:
            lines.append("DUE:" + due.strftime("%Y%m%d") + "T%02d0000" % rng.randrange(8, 20))
    lines.append("PRIORITY:%d" % rng.choice((0, 0, 1, 5, 9)))
    lines.append("END:VTODO")
    return uid, calendar("\r\n".join(lines) + "\r\n")


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--out", required=True, help="store root to create (must not exist)")
    parser.add_argument("--events", type=int, default=10000)
    parser.add_argument("--todos", type=int, default=2000)
    parser.add_argument("--seed", type=int, default=20261208)
    parser.add_argument("--start", default="2026-01-01", help="first day of the two-year span")
    args = parser.parse_args()

    rng = random.Random(args.seed)
    start_day = dt.date.fromisoformat(args.start)
    os.makedirs(args.out)
    for name in COLLECTIONS:
        os.makedirs(os.path.join(args.out, name))
        with open(os.path.join(args.out, name, "displayname"), "w") as f:
            f.write(name.capitalize() + "\n")
    for i in range(args.events):
        uid, text = event(rng, start_day, i)
        with open(os.path.join(args.out, COLLECTIONS[i % len(COLLECTIONS)], uid + ".ics"), "w", newline="") as f:
            f.write(text)
    for i in range(args.todos):
        uid, text = todo(rng, start_day)
        with open(os.path.join(args.out, COLLECTIONS[i % len(COLLECTIONS)], uid + ".ics"), "w", newline="") as f:
            f.write(text)


if __name__ == "__main__":
    main()
