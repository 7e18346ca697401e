"""sniff(sample): the delimiter of a text sample as a one-character str."""

import pytest

import _csv_vestle_backend as vestle


@pytest.mark.parametrize("sample, expected", [
    ("", ","),
    ("a;b;c", ","),                       # one row: every candidate scores 0
    ("a;b;c\n1;2;3\n", ";"),
    ("a;b\n1;2", ";"),
    ("a\tb\tc\n1\t2\t3\n", "\t"),
    ("a|b|c\nd|e|f\n", "|"),
    ("a,b;c;d\ne,f;g;h\n", ";"),          # more fields per row wins once it reaches 3
    ("a,b;c\n1,2;3\n", ","),              # equal scores keep the earlier candidate
    ('"x;y;z",a\n"x;y;z",b\n', ","),      # delimiters inside quotes do not split
    ("a;b\n\n   \n1;2\n", ";"),           # blank lines change nothing
    ("\ufeffa;b\n1;2\n", ";"),            # a leading byte-order mark is skipped
    ("\ufeff", ","),
    ("é;ü\nß;ø\n", ";"),
    ("a;b\n" * 50 + "a,b,c\n" * 60, ";"),  # only the first 50 counted rows matter
])
def test_sniff_table(sample, expected):
    result = vestle.sniff(sample)
    assert result == expected
    assert type(result) is str and len(result) == 1


def test_sniff_by_keyword_and_str_subclass():
    class Sample(str):
        pass

    assert vestle.sniff(sample="a|b\nc|d\n") == "|"
    assert vestle.sniff(Sample("a;b\nc;d\n")) == ";"


def test_sniff_result_is_one_of_the_candidates_for_odd_input():
    for sample in ['"', '""",,,\n;;;', "\x00\x01\x02", "\r\r\n\n", "'a'b'c" * 100]:
        assert vestle.sniff(sample) in {",", ";", "\t", "|"}
