"""Number formats shared by the TEXT tests and the Format tests: rows of
(value, pattern, expected text). A value is what a cell holds (int, float,
str or bool), read from the cell by both functions, or a datetime.date: its
day serial for TEXT, a date literal for Format."""
import datetime

from morvane import ExcelError

MARCH_15 = datetime.date(2023, 3, 15)  # serial 45000, a Wednesday

# Rendered the same by TEXT and by Format.
SHARED = [
    # The reports that came out wrong.
    (999.9, "#,##0", "1,000"),
    (MARCH_15, "dd/mm/yyyy", "15/03/2023"),
    (1234.5, "$#,##0.00", "$1,234.50"),
    (-1234.5, "#,##0.00;(#,##0.00)", "(1,234.50)"),
    (7, "000", "007"),
    (1e20, "#,##0", "100,000,000,000,000,000,000"),
    (45000, "mmm yyyy", "Mar 2023"),
    (0.75, "hh:mm", "18:00"),
    # Sections: positive; negative without its minus; zero; text.
    (-5, "0;(0)", "(5)"),
    (0, "0.0;-0.0;\"zero\"", "zero"),
    (-0.001, "0.0;(0.0)", "(0.0)"),  # the section follows the value, not its rounding
    (0, "#,##0;(#,##0);-", "-"),
    (5, "0;(0);-", "5"),
    ("abc", "0;0;0;\"[\"@\"]\"", "[abc]"),
    ("abc", "\"Name: \"@", "Name: abc"),
    ("abc", "0.00", "abc"),  # no text section: the text as it is
    ("12.5", "0.00", "12.50"),  # a text that reads as a number is that number
    # Digit placeholders, the point, grouping and scaling commas.
    (3.14159, "0.00", "3.14"),
    (3.14159, "0.0#", "3.14"),
    (3.14159, "0.00#", "3.142"),
    (2.5, "0", "3"),
    (-2.5, "0", "-3"),
    (-0.2, "0", "-0"),
    (0.125, "0.00", "0.13"),
    (1.005, "0.00", "1.01"),  # the 15-digit decimal value, not the binary one
    (2.675, "0.00", "2.68"),
    (0.1, "0." + "0" * 20, "0.10000000000000000000"),
    (999999.5, "#,##0", "1,000,000"),
    (0.5, "#.##", ".5"),
    (12.5, ".00", "12.50"),  # the whole digits show without a placeholder
    (0.5, ".00", ".50"),
    (5, "#.##", "5."),
    (0, "#", ""),
    (0.5, "0.0?", "0.5 "),
    (12.3, "???.??", " 12.3 "),
    (5551234567, "(000) 000-0000", "(555) 123-4567"),
    (1234567, "#,##0", "1,234,567"),
    (123, "#,##0", "123"),
    (-1234567.891, "#,##0.0", "-1,234,567.9"),
    (5, "0,000", "0,005"),
    (1234567, "#,##0,", "1,235"),
    (1234567, "0.0,,\\M", "1.2M"),
    (1234.56, "0.0,0", "1,234.56"),
    # Percent and scientific.
    (0.256, "0%", "26%"),
    (0.1234, "0.00%", "12.34%"),
    (-0.256, "0.0%", "-25.6%"),
    (1234.5, "0.00E+00", "1.23E+03"),
    (0.00012, "0.0E+00", "1.2E-04"),
    (1234.5, "0.0E-0", "1.2E3"),
    (9.999, "0.00E+00", "1.00E+01"),
    (12345.678, "##0.0E+0", "12.3E+3"),
    (0, "0.00E+00", "0.00E+00"),
    (1e300, "0.0E+00", "1.0E+300"),
    # Literal text.
    (5, "\\$0.00_)", "$5.00 "),
    (5, "0 \"units\"", "5 units"),
    (-5, "+0;-0", "-5"),
    (-5, "$0", "-$5"),
    (1, "[Red]0.0", "1.0"),
    (5, "[$€-407]0.00", "€5.00"),
    (2.5, "0:00", "0:03"),
    # Dates and times.
    (45000, "yyyy-mm-dd", "2023-03-15"),
    (45000, "d/m/yy", "15/3/23"),
    (45000, "dddd, mmmm d, yyyy", "Wednesday, March 15, 2023"),
    (45000, "ddd dd-mmm", "Wed 15-Mar"),
    (45000, "mmmmm", "M"),
    (45000, "mm", "03"),
    (45000.51, "mm:ss", "14:24"),  # m before s is the minute
    (45000.51, "h:mm", "12:14"),
    (45000.9, "dd/mm/yyyy", "15/03/2023"),
    (45000.75, "h:mm AM/PM", "6:00 PM"),
    (45000.75, "h:mm a/p", "6:00 p"),
    (45000, "h AM/PM", "12 AM"),
    (45000.5, "hh:mm:ss", "12:00:00"),
    (45000.99999999, "yyyy-mm-dd hh:mm:ss", "2023-03-16 00:00:00"),  # rounded to the second
    (1.5, "[h]:mm", "36:00"),
    (0.5, "[mm]:ss", "720:00"),
    (0.0001, "[s]", "9"),
    (0.0001, "[ss]", "09"),
    (0.0001, "hh:mm:ss.00", "00:00:08.64"),
    (0, "yyyy-mm-dd", "1900-01-00"),
    (61, "yyyy-mm-dd", "1900-03-01"),
    (45000, "yyyy年mm月dd日", "2023年03月15日"),
]

VALUE = ExcelError("#VALUE!")

# TEXT only: the worksheet's General (11 characters at most), empty
# sections that hide, exact doubles, and dates a cell cannot show.
WORKSHEET = [
    (1 / 3, "General", "0.333333333"),
    (1234.5, "General", "1234.5"),
    (-1234.5, "General", "-1234.5"),
    (123456789012, "General", "1.23457E+11"),
    (0.0000123456789, "General", "1.23457E-05"),
    (0.001, "General", "0.001"),
    (5, "\"Total: \"General", "Total: 5"),
    (5, "", "5"),
    (-5, "0;;", ""),
    (0, "0;;", ""),
    (123456789012345678, "0", "123456789012346000"),  # a cell's number has 15 digits
    (2958466, "yyyy", VALUE),
    (-1, "yyyy-mm-dd", VALUE),
]

# Format only: VBA's named formats, an empty section shown with the first,
# exact whole numbers.
VBA = [
    (1234.5, "Currency", "$1,234.50"),
    (-1234.5, "Currency", "($1,234.50)"),
    (1234.5, "Fixed", "1234.50"),
    (1234.5, "standard", "1,234.50"),
    (0.1234, "Percent", "12.34%"),
    (1234.5, "Scientific", "1.23E+03"),
    (0, "Yes/No", "No"),
    (5, "Yes/No", "Yes"),
    (True, "Yes/No", "Yes"),
    (False, "True/False", "False"),
    (-1, "On/Off", "On"),
    (45000.75, "General Date", "3/15/2023 6:00:00 PM"),
    (45000, "General Date", "3/15/2023"),
    (0.75, "General Date", "6:00:00 PM"),
    (MARCH_15, "Long Date", "Wednesday, March 15, 2023"),
    (45000, "Medium Date", "15-Mar-23"),
    (45000, "Short Date", "3/15/2023"),
    (0.75, "Long Time", "6:00:00 PM"),
    (0.75, "Medium Time", "06:00 PM"),
    (0.75, "Short Time", "18:00"),
    (1234.5, "General Number", "1234.5"),
    (45000.51, "hh:nn:ss", "12:14:24"),  # n is VBA's minute
    (-5, "0;;", "-5"),
    (1234, "00/00", "12/34"),  # VBA has no fractions: a slash between digits is text
    (0, "0.0;;", "0.0"),
    (9223372036854775807, "#,##0", "9,223,372,036,854,775,807"),
    (9223372036854775807, "0%", "922337203685477580700%"),
    # VBA's own date codes: day of the year, weekday (Sunday 1), week of the
    # year (the first holds January 1), quarter, and the whole forms.
    (MARCH_15, "y", "74"),
    (MARCH_15, "w ww q", "4 11 1"),
    (datetime.date(2023, 1, 1), "ww/y", "1/1"),
    (datetime.date(2023, 12, 31), "ww q y", "53 4 365"),
    (MARCH_15, "ddddd", "3/15/2023"),
    (MARCH_15, "dddddd", "Wednesday, March 15, 2023"),
    (45000.75, "c", "3/15/2023 6:00:00 PM"),
    (0.75, "ttttt", "6:00:00 PM"),
    (5, "0 wk", "5 wk"),  # beside digits the letters are text
]

# Patterns refused with a message, by both.
REFUSED = [
    ("[<0]0", "conditions in brackets are not supported"),
    ("# ?/?", "fractions such as '# ?/?' are not supported"),
    ("0;0;0;@;0", "a format of more than four sections is not supported"),
]


def serial(day):
    """The 1900-system serial of a date from March 1900 on."""
    return (day - datetime.date(1899, 12, 30)).days
