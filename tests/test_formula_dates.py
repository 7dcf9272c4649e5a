"""Date and time functions, weekdays, week numbers and working days."""
import random
import time
from datetime import date, datetime, timedelta, timezone

import pytest

from formulahelp import NA, NUM, VALUE, check, column, evaluate, failure, shown_for


BUILD_AND_TAKE_APART = [
    # Serials of the 1900 system, around the phantom 1900-02-29.
    ("=DATE(2020,1,1)+0", 43831),
    ("=DATE(2023,3,15)+0", 45000),
    ("=DATE(1900,1,1)+0", 1),
    ("=DATE(1900,2,28)+0", 59),
    ("=DATE(1900,2,29)+0", 61),
    ("=DATE(1900,3,1)+0", 61),
    ("=DATE(1900,1,60)+0", 60),
    ("=DATE(2020,1,1)", date(2020, 1, 1)),
    ("=DATE(2020,2,29)", date(2020, 2, 29)),
    ("=DATE(2021,2,29)", date(2021, 3, 1)),
    ("=DATE(2020.9,1.9,1.9)", date(2020, 1, 1)),
    # Months and days carry into the years, both ways.
    ("=DATE(2020,13,1)", date(2021, 1, 1)),
    ("=DATE(2020,14,1)", date(2021, 2, 1)),
    ("=DATE(2020,0,1)", date(2019, 12, 1)),
    ("=DATE(2020,-3,1)", date(2019, 9, 1)),
    ("=DATE(2020,1,0)", date(2019, 12, 31)),
    ("=DATE(2020,1,32)", date(2020, 2, 1)),
    ("=DATE(2020,3,-1)", date(2020, 2, 28)),
    ("=DATE(2019,25,366)", date(2022, 1, 1)),
    # Serial 0 is the last day before 1900; no date comes before it, but
    # a number below 0 still reads back through the calendar.
    ("=DATE(1900,1,0)+0", 0),
    ("=DATE(1899,12,31)", date(3799, 12, 31)),  # years 0 to 1899 count from 1900
    ("=DATE(1899,12,30)", date(3799, 12, 30)),
    ("=DATE(1,1,1)", date(1901, 1, 1)),
    ("=DATE(99,1,1)", date(1999, 1, 1)),
    ("=DATE(0,1,1)", date(1900, 1, 1)),
    ("=DATE(0,1,0)+0", 0),
    ("=DATE(1900,1,1)", date(1900, 1, 1)),
    ("=DATE(-1,1,1)", NUM),
    ("=DATEVALUE(\"2020-02-30\")", VALUE),  # no such day
    ("=DATEVALUE(\"2021-02-29\")", VALUE),
    ("=DATEVALUE(\"2020-13-01\")", VALUE),
    ("=DATEVALUE(\"2020-00-10\")", VALUE),
    ("=DATEVALUE(\"2020-01-00\")", VALUE),
    ("=DATEVALUE(\"2020-02-29\")", date(2020, 2, 29)),
    ("=EDATE(DATE(1900,1,15),-1)", NUM),
    ("=YEAR(-1)", 1899),
    ("=DAY(-1)", 30),
    ("=DATE(2020,9000000000000000000,1)", NUM),
    ("=DATEVALUE(\"2020-01-15\")", date(2020, 1, 15)),
    ("=DATEVALUE(\"2020/1/15\")", date(2020, 1, 15)),
    ("=DATEVALUE(\" 2020 / 01 / 15 \")", date(2020, 1, 15)),
    ("=DATEVALUE(DATE(2023,3,15))+0", 45000),
    ("=DATEVALUE(\"1/15/2020\")", VALUE),  # always year, month, day: year 1
    ("=DATEVALUE(\"2020-01-15 10:00\")", VALUE),
    ("=DATEVALUE(45000)", VALUE),
    ("=DATEVALUE(\"soon\")", VALUE),
    ("=DATEVALUE(NA())", NA),
    ("=YEAR(45000)", 2023),
    ("=MONTH(45000)", 3),
    ("=DAY(45000)", 15),
    ("=YEAR(45000.99)", 2023),
    ("=DAY(0)", 0),
    ("=MONTH(0)", 1),
    ("=MONTH(60)", 3),
    ("=DAY(60)", 1),
    ("=DAY(59)", 28),
    ("=YEAR(2958465)", 9999),
    ("=YEAR(\"45000\")", 2023),
    ("=YEAR(NA())", NA),
    ("=DATE(2020,NA(),1)", NA),
]

SHIFTS_AND_DIFFERENCES = [
    ("=EDATE(DATE(2020,1,31),1)", date(2020, 2, 29)),
    ("=EDATE(DATE(2021,3,31),-1)", date(2021, 2, 28)),
    ("=EDATE(DATE(2020,1,15),-13)", date(2018, 12, 15)),
    ("=EDATE(DATE(2020,2,29),12)", date(2021, 2, 28)),
    ("=EDATE(0,1)+0", 31),
    ("=EOMONTH(DATE(2020,2,10),0)", date(2020, 2, 29)),
    ("=EOMONTH(DATE(2019,2,10),0)", date(2019, 2, 28)),
    ("=EOMONTH(DATE(2020,12,5),1)", date(2021, 1, 31)),
    ("=EOMONTH(DATE(2020,1,5),-1)", date(2019, 12, 31)),
    ("=DAYS(DATE(2021,1,1),DATE(2020,1,1))", 366),
    ("=DAYS(DATE(2020,1,1),DATE(2021,1,1))", -366),
    ("=DAYS(9000000000000000000,-9000000000000000000)", NUM),
    ("=DATEDIF(DATE(2020,1,1),DATE(2020,12,31),\"D\")", 365),
    ("=DATEDIF(DATE(2020,1,31),DATE(2020,2,29),\"M\")", 0),
    ("=DATEDIF(DATE(2020,1,31),DATE(2020,3,31),\"M\")", 2),
    ("=DATEDIF(DATE(2020,1,15),DATE(2021,1,14),\"Y\")", 0),
    ("=DATEDIF(DATE(2020,1,15),DATE(2021,1,15),\"Y\")", 1),
    ("=DATEDIF(DATE(2020,2,29),DATE(2021,2,28),\"Y\")", 0),
    # "MD" borrows the month before the end month.
    ("=DATEDIF(DATE(2021,1,15),DATE(2021,3,10),\"MD\")", 23),
    ("=DATEDIF(DATE(2015,1,31),DATE(2015,3,1),\"MD\")", -2),
    ("=DATEDIF(DATE(2020,12,20),DATE(2021,1,5),\"MD\")", 16),
    ("=DATEDIF(DATE(2020,1,10),DATE(2020,3,25),\"md\")", 15),
    ("=DATEDIF(DATE(2020,5,20),DATE(2021,5,10),\"YM\")", 11),
    ("=DATEDIF(DATE(2020,5,20),DATE(2021,3,25),\"YD\")", 309),
    ("=DATEDIF(DATE(2020,3,1),DATE(2021,2,28),\"YD\")", 364),
    ("=DATEDIF(DATE(2021,1,2),DATE(2021,1,1),\"D\")", NUM),
]

TIMES = [
    ("=TIME(12,0,0)", 0.5),
    ("=TIME(25,0,0)", 0.04166666666666674),  # a time is a fraction of one day
    ("=TIME(24,0,0)", 0.0),
    ("=TIME(48,30,0)", 0.02083333333333348),
    ("=TIME(0,-30,0)", -0.020833333333333332),
    ("=TIME(1.5,0,0)", 0.0625),
    ("=TIMEVALUE(\"10:30\")", 0.4375),
    ("=TIMEVALUE(\" 10 : 30 \")", 0.4375),
    ("=TIMEVALUE(\"10:30:xx\")", VALUE),  # an unreadable piece is no silent 0
    ("=TIMEVALUE(\"1.5:30\")", 0.08333333333333333),
    ("=TIMEVALUE(\"1:2:3:4\")", VALUE),
    ("=TIMEVALUE(\"10\")", VALUE),
    # AM and PM on the 12-hour clock: 12 AM is midnight, 12 PM noon.
    ("=TIMEVALUE(\"10:30 PM\")", 0.9375),
    ("=TIMEVALUE(\"5:30:15 PM\")", 0.7293402777777778),
    ("=TIMEVALUE(\"5:30:15 AM\")", 0.22934027777777777),
    ("=TIMEVALUE(\"12:00:00 AM\")", 0.0),
    ("=TIMEVALUE(\"12:00:00 PM\")", 0.5),
    ("=TIMEVALUE(\"12:30 am\")", 0.020833333333333332),
    ("=TIMEVALUE(\"1:15 pM\")", 0.5520833333333334),
    ("=TIMEVALUE(\"13:00 PM\")", VALUE),
    ("=TIMEVALUE(\"10:30PM\")", VALUE),
    ("=TIMEVALUE(\"10:30 XM\")", VALUE),
    ("=TIMEVALUE(\"PM\")", VALUE),
    ("=TIMEVALUE(\"2024-01-01 10:30\")", VALUE),
    ("=HOUR(0.75)", 18),
    ("=HOUR(45000.5)", 12),
    ("=HOUR(-0.25)", 6),
    ("=SECOND(TIME(10,30,15))", 15),
    # The fraction of 18:12:13 falls a hair short of 13 seconds.
    ("=SECOND(TIME(18,12,13))", 13),
    ("=MINUTE(TIME(18,12,13))", 12),
    ("=HOUR(TIME(18,12,13))", 18),
    ("=HOUR(TIME(0,59,59.9999))", 1),
    ("=MINUTE(TIME(0,59,59.9999))", 0),
    ("=HOUR(0.99999999)", 0),
    ("=MINUTE(\"x\")", "Cannot convert 'x' to a number"),
]


@pytest.mark.parametrize("formula,want", BUILD_AND_TAKE_APART + SHIFTS_AND_DIFFERENCES + TIMES)
def test_date_and_time_values(formula, want):
    if isinstance(want, str):
        assert failure(formula) == shown_for(want)
        return
    check(formula, None, want)


def test_date_cells_are_numbers_to_the_date_functions():
    cells = {"A1": "=DATE(2024,2,29)", "B1": "2024-03-01"}
    assert evaluate("=YEAR(A1)*10000+MONTH(A1)*100+DAY(A1)", cells) == 20240229
    assert evaluate("=DAYS(DATEVALUE(B1),A1)", cells) == 1
    assert evaluate("=EDATE(A1,1)", cells) == date(2024, 3, 29)


def test_today_and_now_read_the_clock_as_utc():
    before = datetime.now(timezone.utc)
    today = evaluate("=TODAY()")
    now = evaluate("=NOW()")
    after = datetime.now(timezone.utc)
    assert today in (before.date(), after.date())
    serial = lambda t: (t - datetime(1899, 12, 30, tzinfo=timezone.utc)) / timedelta(days=1)
    assert serial(before) - 1 / 86400 <= now <= serial(after)
    assert isinstance(now, float)


@pytest.mark.parametrize("formula,message", [
    ("=DATE(2020,1)", "DATE requires 3 arguments"),
    ("=DATEVALUE()", "DATEVALUE requires 1 argument"),
    ("=TODAY(1)", "TODAY takes no arguments"),
    ("=NOW(1)", "NOW takes no arguments"),
    ("=YEAR(1,2)", "YEAR requires 1 argument"),
    ("=EDATE(1)", "EDATE requires 2 arguments"),
    ("=EOMONTH(1)", "EOMONTH requires 2 arguments"),
    ("=DAYS(1)", "DAYS requires 2 arguments"),
    ("=DATEDIF(1,2)", "DATEDIF requires 3 arguments"),
    ("=TIME(1,2)", "TIME requires 3 arguments"),
    ("=TIMEVALUE()", "TIMEVALUE requires 1 argument"),
    ("=SECOND()", "SECOND requires 1 argument"),
    ("=DATEDIF(1,2,\"w\")", "DATEDIF: unknown unit 'W'"),
    ("=DATE(\"x\",1,1)", "Cannot convert 'x' to a number"),
    ("=WEEKDAY()", "WEEKDAY requires 1 or 2 arguments"),
    ("=WEEKNUM(1,2,3)", "WEEKNUM requires 1 or 2 arguments"),
    ("=ISOWEEKNUM()", "ISOWEEKNUM requires 1 argument"),
    ("=WORKDAY(1)", "WORKDAY requires 2 or 3 arguments"),
    ("=NETWORKDAYS(1)", "NETWORKDAYS requires 2 or 3 arguments"),
    ("=WORKDAY.INTL(1)", "WORKDAY.INTL requires 2 to 4 arguments"),
    ("=NETWORKDAYS.INTL(1,2,3,4,5)", "NETWORKDAYS.INTL requires 2 to 4 arguments"),
    ("=WEEKDAY(45292,4)", "WEEKDAY: unsupported return_type 4"),
    ("=WEEKDAY(45292,-1)", "WEEKDAY: unsupported return_type 0"),
    ("=NETWORKDAYS.INTL(45292,45300,8)", "NETWORKDAYS.INTL: invalid weekend 8"),
    ("=WORKDAY.INTL(45292,3,0)", "NETWORKDAYS.INTL: invalid weekend 0"),
    ("=WORKDAY.INTL(45292,3,\"weekends\")", "Cannot convert 'weekends' to a number"),
])
def test_date_failures(formula, message):
    assert failure(formula) == shown_for(message)


WEEKS = [
    ("=WEEKDAY(1)", 1),       # 1900-01-01 is a Sunday in this calendar
    ("=WEEKDAY(7)", 7),
    ("=WEEKDAY(0)", 7),
    ("=WEEKDAY(-1)", 6),
    ("=WEEKDAY(45292)", 2),   # 2024-01-01, a Monday
    ("=WEEKDAY(45292,2)", 1),
    ("=WEEKDAY(45292,3)", 0),
    ("=WEEKDAY(45292,2.9)", 1),
    ("=WEEKDAY(DATE(2024,3,3),2)", 7),
    ("=WEEKNUM(DATE(2024,1,6))", 1),
    ("=WEEKNUM(DATE(2024,1,7))", 2),
    ("=WEEKNUM(DATE(2024,1,7),2)", 1),
    ("=WEEKNUM(DATE(2024,1,8),2)", 2),
    ("=WEEKNUM(DATE(2024,12,31))", 53),
    ("=WEEKNUM(DATE(2024,12,31),2)", 53),
    ("=WEEKNUM(DATE(2024,1,6),16)", 2),
    ("=WEEKNUM(DATE(2023,1,1),2)", 1),
    ("=WEEKNUM(DATE(2023,1,2),2)", 2),
    ("=WEEKNUM(DATE(2024,1,6),3)", NUM),
    ("=WEEKNUM(DATE(2024,1,6),0)", NUM),
    ("=WEEKNUM(0)", 1),
    ("=WEEKNUM(DATE(2021,1,1),21)", 53),
    ("=ISOWEEKNUM(DATE(2021,1,1))", 53),
    ("=ISOWEEKNUM(DATE(2019,12,30))", 1),
    ("=ISOWEEKNUM(DATE(2024,12,30))", 1),
    ("=ISOWEEKNUM(DATE(2026,12,31))", 53),
    ("=ISOWEEKNUM(DATE(2027,1,1))", 53),
    ("=ISOWEEKNUM(DATE(2023,3,15))", 11),
    ("=ISOWEEKNUM(DATE(2010,1,3))", 53),
    ("=ISOWEEKNUM(DATE(2008,12,29))", 1),
    ("=ISOWEEKNUM(DATE(9999,12,31))", 52),
]

# The calendar's first days (serials below 2, a blank, TRUE) end at once; a
# serial before the calendar has no week.
FIRST_DAYS = [
    ("=ISOWEEKNUM(0)", 52),
    ("=ISOWEEKNUM(1)", 52),
    ("=ISOWEEKNUM(0.5)", 52),
    ("=ISOWEEKNUM(TRUE)", 52),
    ("=ISOWEEKNUM(Z99)", 52),
    ("=ISOWEEKNUM(2)", 1),
    ("=ISOWEEKNUM(8)", 1),
    ("=ISOWEEKNUM(9)", 2),
    ("=ISOWEEKNUM(-1)", NUM),
    ("=ISOWEEKNUM(-1" + "0" * 300 + ")", NUM),
    ("=ISOWEEKNUM(1" + "0" * 300 + ")", NUM),
    ("=WEEKNUM(0,21)", 52),
    ("=WEEKNUM(1,21)", 52),
    ("=WEEKNUM(TRUE,21)", 52),
    ("=WEEKNUM(Z99,21)", 52),
    ("=WEEKNUM(-1,21)", NUM),
]

WORKING_DAYS = [
    ("=WORKDAY(DATE(2024,1,5),1)", date(2024, 1, 8)),  # Friday to Monday
    ("=WORKDAY(DATE(2024,1,5),-1)", date(2024, 1, 4)),
    ("=WORKDAY(DATE(2024,1,6),0)", date(2024, 1, 6)),
    ("=WORKDAY(DATE(2024,1,6),1)", date(2024, 1, 8)),
    ("=WORKDAY(DATE(2024,1,6),-1)", date(2024, 1, 5)),
    ("=WORKDAY(DATE(2024,1,1),10)", date(2024, 1, 15)),
    ("=WORKDAY(DATE(2024,1,5),1,DATE(2024,1,8))", date(2024, 1, 9)),
    ("=WORKDAY(DATE(2024,1,1),1000000000000000)+0", 1400000000045292),  # whole weeks, no walk
    ("=WORKDAY(1,9000000000000000000)", NUM),
    ("=WORKDAY(DATE(1900,1,5),-10)", NUM),
    ("=WORKDAY.INTL(DATE(2024,1,5),1,7)", date(2024, 1, 7)),  # Friday and Saturday off
    ("=WORKDAY.INTL(DATE(2024,1,5),1,\"0000011\")", date(2024, 1, 8)),
    ("=WORKDAY.INTL(DATE(2024,1,5),1,\"1\")", date(2024, 1, 8)),
    ("=WORKDAY.INTL(DATE(2024,1,5),1,\"abcdefg\")", date(2024, 1, 6)),
    ("=WORKDAY.INTL(DATE(2024,1,5),1,\"1111111\")", VALUE),
    ("=WORKDAY.INTL(DATE(2024,1,5),0,\"1111111\")", VALUE),
    ("=NETWORKDAYS(DATE(2024,1,1),DATE(2024,1,31))", 23),
    ("=NETWORKDAYS(DATE(2024,1,31),DATE(2024,1,1))", -23),
    ("=NETWORKDAYS(DATE(2024,1,6),DATE(2024,1,7))", 0),
    ("=NETWORKDAYS(DATE(2024,1,8),DATE(2024,1,8))", 1),
    ("=NETWORKDAYS(DATE(2024,1,6),DATE(2024,1,6))", 0),
    ("=NETWORKDAYS(DATE(2024,1,1),DATE(2024,1,7),DATE(2024,1,3))", 4),
    ("=NETWORKDAYS(DATE(2024,1,1),DATE(2024,1,7),DATE(2024,1,6))", 5),
    ("=NETWORKDAYS(1,700000000000000)", 500000000000000),  # 10^14 whole weeks
    ("=NETWORKDAYS(-9000000000000000000,9000000000000000000)", NUM),
    ("=NETWORKDAYS.INTL(DATE(2024,1,1),DATE(2024,1,31),11)", 27),
    ("=NETWORKDAYS.INTL(DATE(2024,1,1),DATE(2024,1,31),\"0000011\")", 23),
    ("=NETWORKDAYS.INTL(DATE(2024,1,1),DATE(2024,1,31),\"abcdefg\")", 31),
    ("=NETWORKDAYS.INTL(DATE(2024,1,1),DATE(2024,1,31),\"1111111\")", VALUE),
    ("=NETWORKDAYS.INTL(DATE(2024,1,6),DATE(2024,1,6))", 0),
    ("=NETWORKDAYS(NA(),1)", NA),
]


@pytest.mark.parametrize("formula,want", WEEKS + FIRST_DAYS + WORKING_DAYS)
def test_weeks_and_working_days(formula, want):
    check(formula, None, want)


def test_holidays_from_a_range():
    # Holidays may repeat, fall on weekends, or be text (ignored).
    cells = column(1, ["=DATE(2024,1,8)", "=DATE(2024,1,9)", "no holiday", 45299, "=DATE(2024,1,13)"])
    assert evaluate("=WORKDAY(DATE(2024,1,5),1,A1:A5)", cells) == date(2024, 1, 10)
    assert evaluate("=WORKDAY(DATE(2024,1,10),-2,A1:A5)", cells) == date(2024, 1, 4)
    assert evaluate("=NETWORKDAYS(DATE(2024,1,1),DATE(2024,1,14),A1:A5)", cells) == 8
    assert evaluate("=NETWORKDAYS.INTL(DATE(2024,1,1),DATE(2024,1,14),1,A1:A5)", cells) == 8
    assert evaluate("=WORKDAY.INTL(DATE(2024,1,12),1,\"0000000\",A1:A5)", cells) == date(2024, 1, 14)


SERIAL_ZERO = date(1899, 12, 30)


def reference_workday(start, days, rest, holidays):
    """Day-by-day walk over real dates, as a spreadsheet defines it."""
    d = start
    left = abs(days)
    while left:
        d += timedelta(days=1 if days > 0 else -1)
        if not rest[d.weekday()] and d not in holidays:
            left -= 1
    return d


def reference_networkdays(start, end, rest, holidays):
    lo, hi = min(start, end), max(start, end)
    n = sum(1 for i in range((hi - lo).days + 1)
            if not rest[(lo + timedelta(days=i)).weekday()] and lo + timedelta(days=i) not in holidays)
    return -n if start > end else n


def test_working_days_agree_with_a_day_by_day_walk():
    rng = random.Random(15)
    for _ in range(150):
        rest = [rng.random() < 0.3 for _ in range(7)]
        if all(rest):
            rest[rng.randrange(7)] = False
        mask = "".join("1" if r else "0" for r in rest)
        start = date(2024, 1, 1) + timedelta(days=rng.randrange(-400, 400))
        days = rng.randrange(-40, 41)
        end = start + timedelta(days=rng.randrange(-60, 61))
        holidays = {start + timedelta(days=rng.randrange(-70, 71)) for _ in range(rng.randrange(0, 12))}
        cells = column(1, [(h - SERIAL_ZERO).days for h in sorted(holidays)])
        hol = f"A1:A{max(len(holidays), 1)}"
        s, e = (start - SERIAL_ZERO).days, (end - SERIAL_ZERO).days
        got = evaluate(f'=WORKDAY.INTL({s},{days},"{mask}",{hol})', cells)
        assert got == reference_workday(start, days, rest, holidays), (start, days, mask, holidays)
        got = evaluate(f'=NETWORKDAYS.INTL({s},{e},"{mask}",{hol})', cells)
        assert got == reference_networkdays(start, end, rest, holidays), (start, end, mask, holidays)


def test_iso_weeks_agree_with_the_python_calendar():
    d = date(2015, 12, 20)
    while d < date(2032, 1, 10):
        serial = (d - SERIAL_ZERO).days
        assert evaluate(f"=ISOWEEKNUM({serial})") == d.isocalendar().week, d
        d += timedelta(days=3)


def test_huge_serials_take_no_time():
    started = time.monotonic()
    big = 10**15
    for formula in [f"=ISOWEEKNUM({big})", f"=WEEKNUM({big},2)", f"=YEAR({big})", f"=NETWORKDAYS(-{big},{big})",
                    f"=WORKDAY(0,{big})+0", f"=EDATE({big},-1000000000)+0", f'=DATEDIF(0,{big},"MD")']:
        assert isinstance(evaluate(formula), int), formula
    assert time.monotonic() - started < 2


def test_serials_agree_with_the_python_calendar():
    rng = random.Random(1900)
    for _ in range(300):
        d = date(1900, 3, 1) + timedelta(days=rng.randrange(0, 2958465 - 61))
        serial = (d - SERIAL_ZERO).days
        got = evaluate(f"=DATE({d.year},{d.month},{d.day})+0")
        assert got == serial, d
        parts = evaluate(f"=YEAR({serial})*10000+MONTH({serial})*100+DAY({serial})")
        assert parts == d.year * 10000 + d.month * 100 + d.day, d
        assert evaluate(f"=WEEKDAY({serial},2)") == d.isoweekday(), d
