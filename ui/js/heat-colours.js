// ---------------------------------------------------------------- heat colours
// Inferno: perceptually ordered, readable with the common colour-vision deficiencies.
// Hot is the warm end in both themes: purple for cool, orange (light) or gold (dark)
// for hot. On a light background the cool end also fades toward the panel, so the
// hot end is the strongest colour there too.
const INFERNO = ['000004', '160b39', '420a68', '6a176e', '932667', 'bc3754', 'dd513a', 'f37819', 'fca50a', 'f6d746', 'fcffa4']
  .map((h) => [parseInt(h.slice(0, 2), 16), parseInt(h.slice(2, 4), 16), parseInt(h.slice(4, 6), 16)]);
function inferno(t) {
  const x = clamp01(t) * 10, i = Math.min(9, Math.floor(x)), f = x - i, a = INFERNO[i], b = INFERNO[i + 1];
  return [a[0] + (b[0] - a[0]) * f, a[1] + (b[1] - a[1]) * f, a[2] + (b[2] - a[2]) * f];
}
// t0..t1: the stretch of the ramp; fade0: strength of the coolest fill over the panel;
// tint0..tint1: how strongly a code line takes its colour (kept low for text contrast).
const THEMES = {
  light: { t0: 0.30, t1: 0.74, fade0: 0.45, tint0: 0.07, tint1: 0.34 },
  dark: { t0: 0.22, t1: 0.92, fade0: 1, tint0: 0.06, tint1: 0.30 },
};
const LUT = 256;
const heatUI = { dark: false, fill: [], tint: [], codeBg: [255, 255, 255] };
const rgbCss = (c) => 'rgb(' + Math.round(c[0]) + ',' + Math.round(c[1]) + ',' + Math.round(c[2]) + ')';
const mixRgb = (a, b, k) => [a[0] + (b[0] - a[0]) * k, a[1] + (b[1] - a[1]) * k, a[2] + (b[2] - a[2]) * k];
function parseColor(s, dflt) {
  const m = /^#?([0-9a-f]{6})$/i.exec(String(s).trim());
  if (!m) return dflt;
  const v = parseInt(m[1], 16);
  return [(v >> 16) & 255, (v >> 8) & 255, v & 255];
}
function buildHeatColours() {
  heatUI.dark = !!(window.matchMedia && window.matchMedia('(prefers-color-scheme: dark)').matches);
  const th = heatUI.dark ? THEMES.dark : THEMES.light;
  const cs = getComputedStyle(document.documentElement);
  heatUI.codeBg = parseColor(cs.getPropertyValue('--code-bg'), heatUI.dark ? [17, 19, 24] : [255, 255, 255]);
  const bg = heatUI.codeBg;
  for (let k = 0; k < LUT; k++) {
    const h = k / (LUT - 1);
    const c = inferno(th.t0 + (th.t1 - th.t0) * h);
    heatUI.fill[k] = rgbCss(mixRgb(bg, c, th.fade0 + (1 - th.fade0) * h));
    heatUI.tint[k] = rgbCss(mixRgb(bg, c, k === 0 ? 0 : th.tint0 + (th.tint1 - th.tint0) * h));
  }
}
const lutIndex = (h) => Math.round(clamp01(h) * (LUT - 1));
const heatFill = (h) => heatUI.fill[lutIndex(h)];
const heatTint = (h) => heatUI.tint[lutIndex(h)];

function paintRamp(canvas) {
  const ctx = canvas.getContext('2d');
  for (let x = 0; x < canvas.width; x++) {
    ctx.fillStyle = heatFill(x / (canvas.width - 1));
    ctx.fillRect(x, 0, 1, canvas.height);
  }
}
function paintBrand() {
  const c = $('brandMark'), ctx = c.getContext('2d');
  ctx.clearRect(0, 0, 36, 36);
  const rows = [0.15, 0.55, 1, 0.7, 0.3];
  rows.forEach((h, i) => { ctx.fillStyle = heatFill(h); ctx.fillRect(0, i * 7 + 1, Math.max(8, 36 * h), 6); });
}
