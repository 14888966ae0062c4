#!/usr/bin/env node
// Paints the launcher's pictures, ui/bg.png (1216 x 832), ui/logo.png (500 x 500) and the Windows
// icon ui/logo.ico (the logo at 256, 48, 32 and 16 pixels), from nothing but arithmetic: the same script always gives the same bytes. Run it after changing it
// and commit the pictures with it.
//   node scripts/make-artwork.mjs [output folder, default ui/]
import { writeFileSync, mkdirSync } from 'node:fs';
import { join, dirname } from 'node:path';
import { fileURLToPath } from 'node:url';
import { deflateSync } from 'node:zlib';

const here = dirname(fileURLToPath(import.meta.url));
const outDir = process.argv[2] || join(here, '..', 'ui');

// --- PNG writing ------------------------------------------------------------------------------
const crcTable = new Uint32Array(256).map((_, n) => {
  let c = n;
  for (let k = 0; k < 8; k++) c = c & 1 ? 0xedb88320 ^ (c >>> 1) : c >>> 1;
  return c >>> 0;
});
function crc32(bytes) {
  let c = 0xffffffff;
  for (const b of bytes) c = crcTable[(c ^ b) & 0xff] ^ (c >>> 8);
  return (c ^ 0xffffffff) >>> 0;
}
function chunk(type, data) {
  const out = Buffer.alloc(12 + data.length);
  out.writeUInt32BE(data.length, 0);
  out.write(type, 4, 'latin1');
  data.copy(out, 8);
  out.writeUInt32BE(crc32(out.subarray(4, 8 + data.length)), 8 + data.length);
  return out;
}
// rgba: Float32Array of width*height*4 values in 0..1; alpha false writes RGB.
function encodePng(width, height, rgba, alpha) {
  const channels = alpha ? 4 : 3;
  const raw = Buffer.alloc((width * channels + 1) * height);
  for (let y = 0; y < height; y++) {
    const row = y * (width * channels + 1);
    raw[row] = 0; // no filter
    for (let x = 0; x < width; x++) {
      for (let c = 0; c < channels; c++) {
        const v = rgba[(y * width + x) * 4 + c];
        raw[row + 1 + x * channels + c] = Math.max(0, Math.min(255, Math.round(v * 255)));
      }
    }
  }
  const header = Buffer.alloc(13);
  header.writeUInt32BE(width, 0);
  header.writeUInt32BE(height, 4);
  header[8] = 8;                  // bit depth
  header[9] = alpha ? 6 : 2;      // RGBA or RGB
  return Buffer.concat([
    Buffer.from([0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a]),
    chunk('IHDR', header),
    chunk('IDAT', deflateSync(raw, { level: 9 })),
    chunk('IEND', Buffer.alloc(0)),
  ]);
}

// --- colour helpers -----------------------------------------------------------------------------
const hex = (h) => [1, 3, 5].map((i) => parseInt(h.slice(i, i + 2), 16) / 255);
const mix = (a, b, t) => a.map((v, i) => v + (b[i] - v) * t);
const smooth = (e0, e1, x) => {
  const t = Math.max(0, Math.min(1, (x - e0) / (e1 - e0)));
  return t * t * (3 - 2 * t);
};
// Three-stop gradient: pink, light pink, blue.
const PINK = hex('#ec6d80');
const LIGHT = hex('#f4a4b0');
const BLUE = hex('#85a3d5');
const accent = (t) => (t < 0.5 ? mix(PINK, LIGHT, t * 2) : mix(LIGHT, BLUE, (t - 0.5) * 2));
// A fixed pseudo-random sequence, so the picture is the same on every run.
function random(seed) {
  let s = seed >>> 0;
  return () => {
    s = (s * 1664525 + 1013904223) >>> 0;
    return s / 4294967296;
  };
}

// --- background: soft sky, glows, rolling block hills -----------------------------------------
function paintBackground(width, height) {
  const px = new Float32Array(width * height * 4);
  const skyTop = hex('#fbd3dc');
  const skyMid = hex('#f6e1ea');
  const skyLow = hex('#cddcf4');
  const rnd = random(20261206);
  const glows = [
    { x: 0.18, y: 0.22, r: 0.32, c: hex('#ffffff'), a: 0.55 },
    { x: 0.82, y: 0.18, r: 0.28, c: hex('#f7b6c2'), a: 0.45 },
    { x: 0.62, y: 0.58, r: 0.40, c: hex('#b9cdf0'), a: 0.35 },
  ];
  const sparkles = Array.from({ length: 70 }, () => ({
    x: rnd() * width, y: rnd() * height * 0.62, r: 1 + rnd() * 2.6, a: 0.35 + rnd() * 0.5,
  }));
  // Three hill bands, each a blocky skyline of 16-pixel steps.
  const hills = [
    { base: 0.70, amp: 0.05, f: 1.7, ph: 0.3, c: hex('#f3c4d2'), a: 0.75 },
    { base: 0.78, amp: 0.045, f: 2.6, ph: 1.9, c: hex('#d7c9ea'), a: 0.8 },
    { base: 0.87, amp: 0.035, f: 3.4, ph: 4.1, c: hex('#b7c9ec'), a: 0.9 },
  ];
  const block = 16;
  for (let y = 0; y < height; y++) {
    const v = y / (height - 1);
    for (let x = 0; x < width; x++) {
      const u = x / (width - 1);
      const d = (u * 0.55 + v * 0.45);
      let c = d < 0.5 ? mix(skyTop, skyMid, d * 2) : mix(skyMid, skyLow, (d - 0.5) * 2);
      for (const g of glows) {
        const dist = Math.hypot(u - g.x, (v - g.y) * (height / width));
        c = mix(c, g.c, g.a * (1 - smooth(0, g.r, dist)));
      }
      const bx = Math.floor(x / block) * block + block / 2;
      for (const h of hills) {
        const top = h.base - h.amp * Math.sin((bx / width) * Math.PI * 2 * h.f + h.ph)
          - 0.5 * h.amp * Math.sin((bx / width) * Math.PI * 2 * h.f * 2.3 + h.ph * 1.7);
        const topY = Math.round((top * height) / block) * block;
        if (y >= topY) {
          // A faint lighter rim on the top row of blocks.
          const rim = y < topY + 3 ? 0.35 : 0;
          c = mix(c, mix(h.c, [1, 1, 1], rim), h.a);
        }
      }
      const i = (y * width + x) * 4;
      px[i] = c[0]; px[i + 1] = c[1]; px[i + 2] = c[2]; px[i + 3] = 1;
    }
  }
  for (const s of sparkles) {
    const r = Math.ceil(s.r * 3);
    for (let dy = -r; dy <= r; dy++) {
      for (let dx = -r; dx <= r; dx++) {
        const x = Math.round(s.x) + dx;
        const y = Math.round(s.y) + dy;
        if (x < 0 || y < 0 || x >= width || y >= height) continue;
        // A small four-pointed glint: bright core, thin cross.
        const core = 1 - smooth(0, s.r, Math.hypot(dx, dy));
        const cross = (1 - smooth(0, 0.9, Math.min(Math.abs(dx), Math.abs(dy)))) * (1 - smooth(0, r, Math.hypot(dx, dy)));
        const a = Math.min(1, (core + cross * 0.6) * s.a);
        const i = (y * width + x) * 4;
        px[i] += (1 - px[i]) * a; px[i + 1] += (1 - px[i + 1]) * a; px[i + 2] += (1 - px[i + 2]) * a;
      }
    }
  }
  return px;
}

// --- logo: a rounded tile in the accent gradient with a crescent, a star and a block -------------
function paintLogo(size) {
  const px = new Float32Array(size * size * 4);
  const samples = 4;
  const S = size;
  // Signed-distance helpers in tile units (0..1).
  const roundRect = (x, y, cx, cy, hw, hh, r) => {
    const qx = Math.abs(x - cx) - hw + r;
    const qy = Math.abs(y - cy) - hh + r;
    return Math.hypot(Math.max(qx, 0), Math.max(qy, 0)) + Math.min(Math.max(qx, qy), 0) - r;
  };
  const circle = (x, y, cx, cy, r) => Math.hypot(x - cx, y - cy) - r;
  const star = (x, y, cx, cy, r) => {
    // Four-pointed star: |dx|^p + |dy|^p <= r^p with p < 1.
    const p = 0.55;
    const v = Math.pow(Math.abs(x - cx) / r, p) + Math.pow(Math.abs(y - cy) / r, p);
    return v - 1;
  };
  for (let y = 0; y < S; y++) {
    for (let x = 0; x < S; x++) {
      let r = 0, g = 0, b = 0, a = 0;
      for (let sy = 0; sy < samples; sy++) {
        for (let sx = 0; sx < samples; sx++) {
          const u = (x + (sx + 0.5) / samples) / S;
          const v = (y + (sy + 0.5) / samples) / S;
          if (roundRect(u, v, 0.5, 0.5, 0.47, 0.47, 0.2) > 0) continue;
          let c = accent(Math.max(0, Math.min(1, u * 0.55 + v * 0.45)));
          // Soft highlight in the upper left.
          c = mix(c, [1, 1, 1], 0.22 * (1 - smooth(0, 0.55, Math.hypot(u - 0.25, v - 0.2))));
          // Crescent moon.
          const moon = circle(u, v, 0.47, 0.47, 0.25) <= 0 && circle(u, v, 0.57, 0.39, 0.21) > 0;
          // A small block resting in the crescent.
          const cube = roundRect(u, v, 0.62, 0.64, 0.085, 0.085, 0.02) <= 0;
          const cubeTop = cube && v < 0.6;
          // Star.
          const twinkle = star(u, v, 0.73, 0.3, 0.11) <= 0 || star(u, v, 0.84, 0.5, 0.05) <= 0;
          if (moon || twinkle) c = [1, 1, 1];
          else if (cube) c = cubeTop ? hex('#fff4f6') : hex('#ffe0e6');
          r += c[0]; g += c[1]; b += c[2]; a += 1;
        }
      }
      const n = samples * samples;
      const i = (y * S + x) * 4;
      // Colours are stored un-premultiplied.
      if (a > 0) { px[i] = r / a; px[i + 1] = g / a; px[i + 2] = b / a; }
      px[i + 3] = a / n;
    }
  }
  return px;
}

// An .ico file whose images are PNGs (Windows Vista and later read those): a 6-byte header, a
// 16-byte entry per image (width and height 0 mean 256), then the images.
function encodeIco(sizes) {
  const images = sizes.map((s) => encodePng(s, s, paintLogo(s), true));
  const header = Buffer.alloc(6 + 16 * images.length);
  header.writeUInt16LE(1, 2);
  header.writeUInt16LE(images.length, 4);
  let offset = header.length;
  images.forEach((image, n) => {
    const at = 6 + 16 * n;
    header.writeUInt8(sizes[n] % 256, at);
    header.writeUInt8(sizes[n] % 256, at + 1);
    header.writeUInt16LE(1, at + 4);
    header.writeUInt16LE(32, at + 6);
    header.writeUInt32LE(image.length, at + 8);
    header.writeUInt32LE(offset, at + 12);
    offset += image.length;
  });
  return Buffer.concat([header, ...images]);
}

mkdirSync(outDir, { recursive: true });
writeFileSync(join(outDir, 'bg.png'), encodePng(1216, 832, paintBackground(1216, 832), false));
writeFileSync(join(outDir, 'logo.png'), encodePng(500, 500, paintLogo(500), true));
writeFileSync(join(outDir, 'logo.ico'), encodeIco([256, 48, 32, 16]));
console.log('wrote', join(outDir, 'bg.png'), join(outDir, 'logo.png'), 'and', join(outDir, 'logo.ico'));
