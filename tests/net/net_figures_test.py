#!/usr/bin/python3
"""Tests of tools/net_figures.py, the benchmark's reading of a host's and a guest's traces, on
traces made up line by line."""
import os
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools"))
import net_figures  # noqa: E402

IN_PLAY, POINT, SERVE, MENU = 4, 5, 3, 0


def host(t, applied=0, state=IN_PLAY, heading=1, before_us=100, ball_y=240, right_y=240):
    return (f"{t} host frame 5 {before_us} 20 {before_us // 2} 10 {applied} {state} {heading} 600"
            f" {ball_y} {right_y}")


def guest(t, sequence=1, keys=0, state=IN_PLAY, heading=1, ball_x=300, ball_y=240, paddle_y=240):
    return f"{t} guest frame {sequence} {keys} {state} {heading} {ball_x} {ball_y} {paddle_y} 640"


def trace_of(*lines):
    return net_figures.read_trace(lines)


class NetFiguresTest(unittest.TestCase):
    def test_a_key_change_counts_from_its_read_to_the_host_frame_that_took_its_input(self):
        trace = trace_of(
            guest(0, sequence=0, keys=0), guest(500, sequence=0, keys=1),  # before the link
            guest(1000, sequence=3, keys=0, state=MENU),  # in the guest's menu
            guest(6000, sequence=4, keys=2),  # down: counted
            guest(11000, sequence=5, keys=2 | 4),  # SPACE alone changes no paddle key
            guest(16000, sequence=6, keys=1),  # up: counted
            host(2000, applied=3), host(9000, applied=4, before_us=250),
            host(30000, applied=7))
        self.assertEqual(net_figures.key_to_host(trace), [3.25, 14.1])

    def test_the_host_judges_only_the_balls_at_the_right_paddle(self):
        trace = trace_of(
            host(0), host(10, heading=0),  # returned by the right paddle
            host(20, heading=0), host(30, state=POINT, heading=0),  # the left paddle's miss
            host(40, state=SERVE, heading=1), host(50, heading=1),
            host(60, state=2, heading=1), host(70, heading=1),  # a pause judges nothing
            host(80, state=POINT, heading=1, right_y=300))  # the right paddle's miss
        self.assertEqual(net_figures.host_judgements(trace),
                         [(10, True, 240), (80, False, 300)])

    def test_the_guests_screen_is_set_against_the_host_ball_by_ball(self):
        trace = trace_of(
            # Returned by the host; the guest's paddle comes over the ball in the second frame
            # that shows it in the hit band, where it turns: agreed.
            host(0), host(1000, heading=0), guest(30000, ball_x=600),
            guest(35000, ball_x=625, paddle_y=302), guest(40000, heading=0, ball_x=627, paddle_y=299),
            # Returned by the host; the guest's paddle is drawn 70 away when the ball's front
            # reaches the hit band: a phantom hit.
            host(100000, heading=1), host(101000, heading=0),
            guest(120000, ball_x=610), guest(130000, ball_x=626, paddle_y=310),
            guest(140000, heading=0, ball_x=620, paddle_y=240),
            # Missed at the host, drawn under the paddle: robbed.
            host(200000, heading=1), host(201000, state=POINT),
            guest(230000, ball_x=626, ball_y=200, paddle_y=150),
            guest(240000, state=SERVE),
            # Judged by the host, never shown at the guest's paddle within the next second.
            host(300000, heading=1), host(301000, state=POINT),
            guest(1_300_000, ball_x=630))
        figures = net_figures.screen_against_host(trace)
        self.assertEqual((figures.balls, figures.phantom_hits, figures.robbed, figures.unseen,
                          figures.differing), (3, 1, 1, 1, 2))
        self.assertEqual(figures.offsets, [59, 70, 90])

    def test_the_wire_and_the_hosts_work_are_counted_over_the_span_of_play(self):
        trace = trace_of(
            guest(0, state=MENU), guest(1_000_000, state=SERVE), guest(3_000_000),
            host(500_000), host(2_000_000, before_us=300), "500000 host traffic 100 50",
            "1000000 host traffic 1000 500", "2000000 host traffic 9000 4500",
            "3000000 host traffic 13000 6500", "4000000 host traffic 99000 99000")
        span = net_figures.playing_span(trace)
        self.assertEqual(span, (1_000_000, 3_000_000))
        self.assertEqual(net_figures.bytes_per_second(trace.traffic["host"], span),
                         (6000.0, 3000.0))
        self.assertIsNone(net_figures.bytes_per_second(trace.traffic["guest"], span))
        self.assertEqual(net_figures.host_work(trace, span), [(160, 320)])  # CPU, wall

    def test_a_line_that_is_no_trace_line_is_named(self):
        for line in ("12 host frame 5 1 2", "12 guest traffic 1", "12 host frame 5 1 2 3 4 5 6 "
                     "7 8 9 10 11", "x host traffic 1 2", "12 relay traffic 1 2"):
            with self.subTest(line=line), self.assertRaisesRegex(ValueError, "line 2 is no"):
                trace_of(host(0), line)


if __name__ == "__main__":
    unittest.main()
