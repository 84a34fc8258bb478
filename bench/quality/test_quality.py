#!/usr/bin/python3
"""Checks of the scoring harness itself: a wrong measure or a misplaced field would mislead
every figure. Run: /usr/bin/python3 -m unittest bench/quality/test_quality.py"""
import os
import sys
import tempfile
import unittest
from unittest import mock

import numpy as np

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import captures  # noqa: E402
import evaluate  # noqa: E402
import make_set  # noqa: E402
import metrics  # noqa: E402


def picture(h=48, w=64, seed=1):
    rng = np.random.default_rng(seed)
    base = rng.integers(0, 256, (h // 4, w // 4, 3)).astype(np.float64)
    return np.kron(base, np.ones((4, 4, 1))) + rng.normal(0, 6, (h, w, 3))


class Measures(unittest.TestCase):
    def test_psnr_pooled(self):
        for sse, samples, want in [(0.0, 10, float("inf")), (255.0 ** 2, 1, 0.0),
                                   (255.0 ** 2 * 10, 1000, 20.0)]:
            self.assertAlmostEqual(metrics.psnr(sse, samples), want, places=9)

    def test_ssim_matches_reference_implementation(self):
        try:
            from skimage.metrics import structural_similarity
        except ImportError:
            self.skipTest("python3-skimage missing")
        a = np.clip(picture(), 0, 255).astype(np.uint8)
        for noise in (2.0, 20.0):
            b = np.clip(a + np.random.default_rng(2).normal(0, noise, a.shape), 0, 255).astype(np.uint8)
            x, y = metrics.luma(a), metrics.luma(b)
            want, full = structural_similarity(x, y, data_range=255, gaussian_weights=True, sigma=1.5,
                                               use_sample_covariance=False, full=True)
            got = metrics.ssim_map(a, b)
            # The reference mirrors at the border and we repeat edge pixels: compare the inside.
            self.assertLess(np.abs(got[8:-8, 8:-8] - full[8:-8, 8:-8]).max(), 1e-6)
            self.assertAlmostEqual(metrics.ssim_map(a, a).min(), 1.0, places=12)


class Set(unittest.TestCase):
    def test_place_moves_by_the_asked_amount(self):
        # A smooth blob: a resampled single pixel would not keep its centre exactly.
        g = np.exp(-((np.arange(9) - 4.0) ** 2) / 4.0)
        layer = (np.outer(g, g) / np.outer(g, g).sum())[:, :, None]
        for pos in [(10, 20), (10.5, 20), (3.25, 7.75), (0.5, 26.25)]:
            canvas = make_set.place(layer, pos, (40, 40))
            ys, xs = np.mgrid[0:40, 0:40]
            total = canvas[:, :, 0].sum()
            self.assertAlmostEqual(total, 1.0, places=3)
            # Pillow's windowed kernel lands quarter shifts 0.02 pixel short.
            self.assertAlmostEqual((xs * canvas[:, :, 0]).sum() / total, pos[0] + 4, delta=0.03)
            self.assertAlmostEqual((ys * canvas[:, :, 0]).sum() / total, pos[1] + 4, delta=0.03)

    def test_weave_takes_even_rows_from_the_first_instant(self):
        first, second = np.zeros((6, 4, 3), np.uint8), np.full((6, 4, 3), 9, np.uint8)
        frame = make_set.weave(first, second)
        self.assertTrue((frame[0::2] == 0).all() and (frame[1::2] == 9).all())

    def test_band_truth_counts_tape_rows(self):
        content = np.full((60, 80, 3), 128, np.uint8)
        for top, bottom, tape in [(10, 12, 0), (0, 0, 6), (8, 5, 7)]:
            frame, t, b = make_set.make_band(content, top, bottom, tape, 1.0, 0)
            self.assertEqual((t, b), (top, bottom + tape))
            untouched = frame[top:60 - bottom - tape]
            self.assertTrue((untouched == 128).all())
            if tape:
                self.assertGreater(np.abs(frame[60 - tape:].astype(int) - 128).mean(), 10)


class References(unittest.TestCase):
    def test_field_interpolation_keeps_top_field_and_follows_ramps(self):
        ramp = np.repeat(np.arange(0, 200, 10, dtype=np.float64)[:, None, None], 3, axis=2)
        ramp = np.repeat(ramp, 5, axis=1)
        for taps in (evaluate.LINEAR, evaluate.CUBIC):
            woven = ramp.copy()
            woven[1::2] += 40  # the other field is off
            out = evaluate.from_top_field(woven, taps)
            self.assertTrue((out[0::2] == ramp[0::2]).all())
            self.assertLess(np.abs(out[3:-4] - ramp[3:-4]).max(), 1e-9)  # edge rows clamp

    def test_pair_average_and_oracle(self):
        frame = picture(8, 8)
        avg = evaluate.pair_average(frame)
        self.assertTrue(np.allclose(avg[0::2], (frame[0::2] + frame[1::2]) / 2))
        self.assertTrue(np.allclose(avg[0::2], avg[1::2]))
        mask = np.zeros((8, 8), bool)
        mask[2:5, 3:6] = True
        oracle = evaluate.reference("oracle: cubic where moved", frame, mask)
        self.assertTrue((oracle[~mask] == frame[~mask]).all())


class Scoring(unittest.TestCase):
    def test_nearer_instant_and_regions(self):
        at_t = np.clip(picture(), 0, 255).astype(np.uint8)
        at_h = np.roll(at_t, 3, axis=1)
        moving = np.zeros(at_t.shape[:2], bool)
        moving[:, 20:40] = True
        with tempfile.TemporaryDirectory() as d:
            make_set.save(f"{d}/truth/f.t.png", at_t)
            make_set.save(f"{d}/truth/f.h.png", at_h)
            make_set.save(f"{d}/masks/f.png", (moving * 255).astype(np.uint8))
            make_set.save(f"{d}/frames/f.bmp", at_h)
            out = at_h.copy()
            out[0, 0, 0] ^= 4  # one channel of one still pixel off by 4
            make_set.save(f"{d}/out.bmp", out)
            for pan, kind in [([0, 0], "subjects"), ([3, 0], "pans")]:
                entry = {"name": "f", "kind": "motion", "pan": pan}
                sums, instant = evaluate.score_frame(d, entry, f"{d}/out.bmp")
                self.assertEqual(instant, "h")
                self.assertEqual(sums["moving"][0], 0.0)
                self.assertEqual(sums["still"][0], 16.0)
                self.assertEqual(sums["still"][2] + sums["moving"][2], moving.size)
                self.assertEqual(sums[kind], sums["whole"])
                self.assertEqual(sums["rebuilt"], [1, int((~moving).sum())])
            make_set.save(f"{d}/small.bmp", out[:-2])
            with self.assertRaises(RuntimeError):
                evaluate.score_frame(d, entry, f"{d}/small.bmp")


class Captures(unittest.TestCase):
    def test_still_pixels_of_a_capture_are_their_own_truth(self):
        at_t = np.clip(picture(), 0, 255).astype(np.uint8)
        at_h = at_t.copy()
        at_h[:, 20:40] = 255 - at_h[:, 20:40]  # something moved there
        for kind in make_set.CAPTURES:
            frame, t, h = make_set.capture(at_t, at_h, kind, np.random.default_rng(3))
            self.assertEqual(frame.shape, at_t.shape)
            if "jpeg" in kind:
                continue
            still = np.ones(at_t.shape[:2], bool)
            still[:, 20:40] = False
            # Outside the motion the frame is what both instants show, noise and all.
            np.testing.assert_array_equal(frame[still], t[still])
            np.testing.assert_array_equal(frame[still], h[still])
            self.assertEqual(kind == "noisy", not np.array_equal(t, np.clip(picture(), 0, 255)
                                                                 .astype(np.uint8)))

    def test_video_motion_ignores_flicker_and_grows(self):
        a = np.full((40, 40, 3), 100, np.uint8)
        b = a.copy()
        b += np.uint8(3)  # codec flicker over the whole frame
        b[18:22, 18:22] = 250
        moving = captures.video_motion(a, b)
        self.assertTrue(moving[20, 20])
        self.assertTrue(moving[20, 20 + captures.VIDEO_GROW + 1])
        self.assertFalse(moving[2, 2])


class Parsing(unittest.TestCase):
    def test_peer_detector_output(self):
        idet = ("[Parsed_idet_0 @ 0x1] Single frame detection: TFF:     %d BFF:     %d "
                "Progressive:     0 Undetermined:     %d\n")
        crop = "[Parsed_cropdetect_0 @ 0x2] x1:0 x2:719 y1:64 y2:503 w:720 h:432 x:0 y:%d crop=720:%d:0:%d\n"
        cases = [(evaluate.idet_combed, ("a",), idet % (0, 0, 1), False),
                 (evaluate.idet_combed, ("a",), idet % (0, 1, 0), True),
                 (evaluate.cropdetect_bands, ("a", 576), crop % (64, 440, 64), (64, 72)),
                 (evaluate.cropdetect_bands, ("a", 576), "no crop line\n", (0, 0)),
                 (evaluate.trim_bands, ("a", 576), "720x432+1+73", (72, 72)),
                 (evaluate.trim_bands, ("a", 576), "720x576+1+1", (0, 0))]
        for fn, args, text, want in cases:
            with mock.patch.object(evaluate, "run", return_value=text):
                self.assertEqual(fn(*args), want, text)

    def test_detect_line_with_or_without_file_column(self):
        tool = evaluate.Tool("/x/tessary-eval")
        for out, want in [("yes\t81.2\ttop\t0\t12\n", (True, 0, 12)),
                          ("file\tcombed\tscore\tfield\ttop\tbottom\na.bmp\tno\t0.1\tbottom\t64\t72\n",
                           (False, 64, 72))]:
            with mock.patch.object(evaluate, "run", return_value=out):
                self.assertEqual(tool.detect("a.bmp"), want)


if __name__ == "__main__":
    unittest.main()
