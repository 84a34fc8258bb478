"""Picture error measures in plain numpy: squared error sums and the SSIM map."""
import numpy as np

# SSIM as usually defined: 11-tap Gaussian window, sigma 1.5, on 8-bit luma.
SSIM_RADIUS = 5
SSIM_SIGMA = 1.5
SSIM_C1 = (0.01 * 255) ** 2
SSIM_C2 = (0.03 * 255) ** 2
LUMA = np.array([0.299, 0.587, 0.114])


def luma(rgb):
    return rgb.astype(np.float64) @ LUMA


def _gaussian_taps():
    x = np.arange(-SSIM_RADIUS, SSIM_RADIUS + 1, dtype=np.float64)
    taps = np.exp(-(x * x) / (2 * SSIM_SIGMA * SSIM_SIGMA))
    return taps / taps.sum()


def _blur(plane):
    """Separable Gaussian with edge rows and columns repeated."""
    taps = _gaussian_taps()
    r = SSIM_RADIUS
    padded = np.pad(plane, r, mode="edge")
    rows = sum(t * padded[:, i:i + plane.shape[1]] for i, t in enumerate(taps))
    return sum(t * rows[i:i + plane.shape[0], :] for i, t in enumerate(taps))


def ssim_map(a, b):
    """Per-pixel SSIM of two RGB pictures, computed on luma."""
    x, y = luma(a), luma(b)
    mx, my = _blur(x), _blur(y)
    sxx = _blur(x * x) - mx * mx
    syy = _blur(y * y) - my * my
    sxy = _blur(x * y) - mx * my
    num = (2 * mx * my + SSIM_C1) * (2 * sxy + SSIM_C2)
    den = (mx * mx + my * my + SSIM_C1) * (sxx + syy + SSIM_C2)
    return num / den


def squared_error(a, b):
    """Per-pixel squared error summed over the three channels."""
    d = a.astype(np.float64) - b.astype(np.float64)
    return (d * d).sum(axis=2)


def psnr(sse, samples):
    """PSNR in dB of a pooled squared-error sum over samples 8-bit values; inf when exact."""
    if samples == 0:
        return float("nan")
    if sse == 0:
        return float("inf")
    return 10.0 * np.log10(255.0 * 255.0 * samples / sse)
