// Vorlan Wattmeter live page: shows the amplifier state pushed over /live
// and a 60-minute chart built from /api/history plus every new reading.
'use strict';

(function () {
  const SCALE_MAX_W = 1100;           // same scale as the desktop bars
  const WINDOW_MS = 60 * 60 * 1000;   // the chart keeps the last 60 minutes
  const RETRY_MIN_MS = 1000, RETRY_MAX_MS = 15000;
  const GAP_MS = 10 * 1000;           // readings further apart than this are not joined
  const TEXT_FIELDS = ['forward', 'reflected', 'vswr', 'stage1', 'stage2', 'stage3', 'stage4', 'total'];
  const NUMBER_FIELDS = ['forward_w', 'reflected_w', 'vswr', 'stage1_a', 'stage2_a', 'stage3_a', 'stage4_a', 'total_a'];
  const FIRST_CURRENT = 3;            // the powers and VSWR come before
  const NO_CHART = 'Chart unavailable: install the libjs-dygraphs package.';

  const $ = (id) => document.getElementById(id);
  const HINT = $('readout').textContent;
  const pad2 = (n) => String(n).padStart(2, '0');
  const num = (v) => (typeof v === 'number' && Number.isFinite(v) ? v : null);
  const str = (v) => (v === null || v === undefined ? '' : String(v));
  const fmt = (v, digits) => String(+v.toFixed(digits));

  function parseTime(iso) {
    const ms = typeof iso === 'string' && iso !== '' ? Date.parse(iso) : NaN;
    return Number.isFinite(ms) ? ms : null;
  }

  // ---- Times ---------------------------------------------------------------

  // Times of day are local unless the reader chose UTC, which this browser remembers; each says
  // its zone: "16:07:51 UTC", "16:07:51 CET" or, where the zone has no short name, "UTC+5:30".
  const ZONE_KEY = 'wattmeter.times';
  let utc = false;
  try { utc = localStorage.getItem(ZONE_KEY) === 'utc'; } catch (err) { /* not remembered */ }

  // The browser's own language may only offer "GMT+1"; English names "CET" and "EST".
  const zoneFormats = [navigator.language, 'en-GB', 'en-US'].flatMap((lang) => {
    try { return [new Intl.DateTimeFormat(lang, { timeZoneName: 'short' })]; } catch (err) { return []; }
  });
  function localZone(ms) {
    const d = new Date(ms);
    for (const f of zoneFormats) {
      const name = f.formatToParts(d).find((p) => p.type === 'timeZoneName');
      if (name && /^[A-Z]{2,5}$/.test(name.value)) return name.value;
    }
    const east = -d.getTimezoneOffset(), h = Math.floor(Math.abs(east) / 60), m = Math.abs(east) % 60;
    return east === 0 ? 'UTC' : `UTC${east < 0 ? '-' : '+'}${h}${m ? `:${pad2(m)}` : ''}`;
  }
  const zoneAt = (ms) => (utc ? 'UTC' : localZone(ms));

  // 24-hour, like the desktop alarm list, with the zone.
  function clock(ms) {
    if (ms === null) return '--:--:--';
    const d = new Date(ms);
    const hms = utc ? [d.getUTCHours(), d.getUTCMinutes(), d.getUTCSeconds()]
      : [d.getHours(), d.getMinutes(), d.getSeconds()];
    return `${hms.map(pad2).join(':')} ${zoneAt(ms)}`;
  }

  function showZoneChoice() {
    $('zone-local').textContent = `Local (${localZone(Date.now())})`;
    $('zone-local').setAttribute('aria-pressed', String(!utc));
    $('zone-utc').setAttribute('aria-pressed', String(utc));
  }

  function chooseZone(toUtc) {
    utc = toUtc;
    try { localStorage.setItem(ZONE_KEY, utc ? 'utc' : 'local'); } catch (err) { /* this page only */ }
    showZoneChoice();
    showFreshness();
    for (const li of $('alarms').children) li.textContent = alarmLine(li.dataset);
    drawChart();
  }

  // ---- Current state -------------------------------------------------------

  function showPort(state) {
    const port = typeof state.port === 'string' && state.port !== '' ? state.port : null;
    const open = state.port_open ? 'open' : 'closed';
    $('port').textContent = port === null ? 'No port chosen' : `${port} ${open}`;
    $('port').dataset.state = port === null ? 'none' : open;
  }

  // Above the scale the bar is full and red, and says so; below 0 it stays empty.
  function showBar(name, value) {
    const bar = $(`bar-${name}`);
    const v = num(value);
    const over = v !== null && v > SCALE_MAX_W;
    const shown = v === null || v < 0 ? 0 : Math.min(v, SCALE_MAX_W);
    bar.firstElementChild.style.width = `${(shown / SCALE_MAX_W) * 100}%`;
    bar.dataset.over = String(over);
    bar.setAttribute('aria-valuenow', String(shown));
    bar.setAttribute('aria-valuetext', v === null ? 'no reading'
      : `${fmt(v, 1)} W${over ? ', above the scale' : v < 0 ? ', below the scale' : ''}`);
  }

  function showLamp(band, lit) {
    const lamp = $(`band-${band}`);
    lamp.dataset.lit = String(lit);
    lamp.setAttribute('aria-label', `${band} band: ${lit ? 'on' : 'off'}`);
    lamp.querySelector('.lamp-state').textContent = lit ? 'on' : 'off';
  }

  const alarmKey = (a) => `${str(a.time)}|${str(a.text)}`;
  const alarmLine = (a) => `${clock(parseTime(a.time))} - ${a.text}`;
  let shownAlarms = [];   // keys of the listed alarms, oldest first

  // The server keeps only the newest alarms, so entries leave at the top and
  // arrive at the bottom. Touch only what changed, so screen readers hear
  // just the new alarms rather than the whole list on every update.
  function showAlarms(list) {
    const alarms = Array.isArray(list) ? list.filter((a) => a && typeof a === 'object') : [];
    const keys = alarms.map(alarmKey);
    let drop = 0;
    while (drop < shownAlarms.length && !shownAlarms.slice(drop).every((k, i) => k === keys[i])) drop++;
    const ol = $('alarms');
    const atBottom = ol.scrollHeight - ol.scrollTop - ol.clientHeight < 8;
    for (let i = 0; i < drop; i++) ol.firstElementChild.remove();
    const kept = shownAlarms.length - drop;
    for (const a of alarms.slice(kept)) {
      const li = document.createElement('li');
      Object.assign(li.dataset, { time: str(a.time), text: str(a.text) });
      li.textContent = alarmLine(li.dataset);
      ol.appendChild(li);
    }
    shownAlarms = keys;
    $('no-alarms').hidden = alarms.length > 0;
    if (alarms.length > kept && atBottom) ol.scrollTop = ol.scrollHeight;
  }

  // Readings are drawn as stale whenever the station says they are not live, and while this page
  // has lost its connection: plausible numbers that may be minutes old must never look live.
  let current = {}, socketUp = false;
  const ago = (iso) => {
    const t = parseTime(iso);
    return t === null ? null : Math.max(0, Math.round((Date.now() - t) / 1000));
  };
  // Why the readings are stale, in words; null while they are live.
  function staleWords(state) {
    if (state.readings_live !== false) return null;
    switch (state.readings_stale_because) {
      case 'port closed': return typeof state.port === 'string' ? `${state.port} closed` : 'No port open';
      case 'amplifier silent': {
        const s = ago(state.last_reply);
        return s === null ? 'No reply from the amplifier' : `No reply for ${s} s`;
      }
      case 'amplifier not asked': return 'Amplifier not asked yet';
      case 'over-power warning':
        return `Paused: over-power warning open since ${clock(parseTime(state.over_power_warning_open_since))}`;
      default: {
        const s = ago(state.time);
        return s === null ? 'No reading yet' : `No reading for ${s} s`;
      }
    }
  }
  function showFreshness() {
    const words = staleWords(current);
    const silent = current.readings_stale_because === 'amplifier silent';
    // No reading because nobody asks for one is the operator's choice, not a fault.
    const idle = current.readings_stale_because === 'no recent reading' && current.polling === false;
    $('readings-card').dataset.stale = String(words !== null || !socketUp);
    $('silence').hidden = words === null;
    if (words !== null) $('silence').textContent = words;
    if (socketUp) {
      if (words === null) setLive('live', 'Live');
      else if (silent) setLive('silent', 'No reply');
      else if (idle) setLive('off', 'Polling off');
      else setLive('stale', 'Stale');
    }
    const t = parseTime(current.time);
    $('updated').textContent = t === null ? 'No reading yet' : `Last reading ${clock(t)}`;
    $('updated').hidden = t === null && words === 'No reading yet'; // said once is enough
    const since = parseTime(current.over_power_warning_open_since);
    $('warning').hidden = since === null;
    if (since !== null) $('warning').textContent = `Over-power warning open since ${clock(since)}: dismiss it at the window, or with DISMISS WARNING`;
    const failing = current.journal === 'failing';
    $('journal').hidden = !failing;
    if (failing) $('journal').textContent = `Journal cannot be written: ${num(current.journal_lines_waiting) ?? 0} lines waiting, ${num(current.journal_lines_lost) ?? 0} lost`;
    const bus = current.mqtt && typeof current.mqtt === 'object' ? current.mqtt : null;
    $('mqtt').hidden = !bus || (bus.connected === true && !num(bus.publish_refused));
    if (bus) $('mqtt').textContent = bus.connected === true ? `MQTT broker refuses our messages (${num(bus.publish_refused)}): ${str(bus.last_refusal)}` : `MQTT broker not connected since ${clock(parseTime(bus.since))}: ${str(bus.reason)}`;
  }
  setInterval(showFreshness, 1000);

  function applyState(state) {
    if (!state || typeof state !== 'object') return;
    current = state;
    showFreshness();
    const texts = state.texts && typeof state.texts === 'object' ? state.texts : {};
    for (const f of TEXT_FIELDS) $(f).textContent = str(texts[f]);
    showPort(state);
    showBar('forward', state.forward_w);
    showBar('reflected', state.reflected_w);
    showLamp('2m', state.band === '2m');
    showLamp('6m', state.band === '6m');
    showAlarms(state.alarms);
    const t = parseTime(state.time);

    let changed = addChartAlarms(state.alarms);
    // Silence and a port that is not open break the lines before the next reading.
    if (state.amplifier === 'silent' || !state.port_open) gapPending = true;
    if (t !== null && t !== lastReadingTime) {
      lastReadingTime = t;
      // The latest scan: the powers if it found them, the currents if it found them.
      const scan = { time: state.time };
      for (const [i, f] of NUMBER_FIELDS.entries()) {
        if (parseTime(i < FIRST_CURRENT ? state.powers_time : state.currents_time) === t) scan[f] = state[f];
      }
      const fresh = [toRow(t, scan)];
      if (gapPending && rows.length) fresh.unshift(gapRow(t - 1));
      gapPending = false;
      changed = addRows(fresh) || changed;
    }
    if (changed) drawChart();
  }

  // ---- Charts --------------------------------------------------------------

  const haveDygraph = typeof Dygraph === 'function';
  let lastReadingTime = null, gapPending = false;
  let rows = [];                 // {t, v: a number or null for each of NUMBER_FIELDS}, oldest first
  let zoomX = null;              // the time span the reader zoomed to on either chart
  const chartAlarms = new Map(); // alarmKey -> {t, text}
  const colours = {};            // series and grid colours from style.css

  // The right-hand axis's labels, dygraphs' tick length (drawn on both sides of the axis) and
  // its own gap right of the plot.
  const Y2_WIDTH = 56, TICK = 3, RIGHT_GAP = 5;
  // Each chart draws its fields from the scans that found one of them, on one time axis.
  const charts = [
    { id: 'chart', fields: [0, 1, 2], colours: ['fwd', 'ref', 'vswr'], graph: null, empty: 'Waiting for readings...',
      options: {
        labels: ['Time', 'Forward (W)', 'Reflected (W)', 'VSWR'],
        series: { 'Reflected (W)': { strokePattern: [8, 4] }, VSWR: { axis: 'y2', strokePattern: [2, 4] } },
        // Dygraphs sets each axis title inside its tick labels' width, at the outer edge: the
        // widths leave the title its own strip beside the widest tick label ("1000", "1.25").
        axes: { y: { includeZero: true, axisLabelWidth: 54 },
                y2: { independentTicks: true, drawGrid: false, axisLabelWidth: Y2_WIDTH } },
        ylabel: 'Power (W)', y2label: 'VSWR',
      } },
    { id: 'chart-current', fields: [7], colours: ['total'], graph: null,
      empty: 'No current reading yet: Polling > Include Current reads the currents.',
      options: {
        labels: ['Time', 'Total (A)'],
        axes: { y: { includeZero: true, axisLabelWidth: 54 } },
        ylabel: 'Current (A)',
        // No right-hand axis: a gap as wide keeps the plot under the first one, time for time.
        rightGap: RIGHT_GAP + Y2_WIDTH + 2 * TICK,
      } },
  ];

  const toRow = (t, r) => ({ t, v: NUMBER_FIELDS.map((f) => num(r[f])) });
  const gapRow = (t) => ({ t, v: NUMBER_FIELDS.map(() => null) });
  const isGap = (r) => r.slice(1).every((v) => v === null);

  function addRows(newRows) {
    const all = rows.concat(newRows).sort((a, b) => a.t - b.t);
    rows = all.filter((r, i) => i === 0 || r.t !== all[i - 1].t);
    return newRows.length > 0;
  }

  // What a chart draws: its fields from each scan that found one, and a null point at every break
  // and wherever two of its readings are too far apart, so that no line joins readings across a
  // spell without any.
  function fileOf(chart) {
    const out = [];
    for (const r of rows) {
      const values = chart.fields.map((i) => r.v[i]);
      const brk = r.v.every((v) => v === null);
      if (!brk && values.every((v) => v === null)) continue;
      const prev = out[out.length - 1];
      if (prev && !brk && !isGap(prev) && r.t - prev[0] > GAP_MS) out.push([new Date(r.t - 1), ...values.map(() => null)]);
      out.push([new Date(r.t), ...values]);
    }
    return out;
  }

  function addChartAlarms(list) {
    let changed = false;
    for (const a of Array.isArray(list) ? list : []) {
      const t = a && parseTime(a.time);
      if (!t || chartAlarms.has(alarmKey(a))) continue;
      chartAlarms.set(alarmKey(a), { t, text: str(a.text) });
      changed = true;
    }
    return changed;
  }

  // Measured from the newest reading rather than the browser's clock, so a
  // badly set PC clock cannot empty the chart.
  function trim() {
    if (rows.length === 0) return;
    const cutoff = rows[rows.length - 1].t - WINDOW_MS;
    const first = rows.findIndex((r) => r.t >= cutoff);
    if (first > 0) rows = rows.slice(first);
    for (const [key, a] of chartAlarms) if (a.t < cutoff) chartAlarms.delete(key);
  }

  function readColours() {
    const css = getComputedStyle(document.documentElement);
    for (const name of ['fwd', 'ref', 'vswr', 'total', 'alarm', 'grid', 'fg']) colours[name] = css.getPropertyValue(`--${name}`).trim();
  }

  const themeOptions = (chart) => ({ colors: chart.colours.map((c) => colours[c]),
                                     gridLineColor: colours.grid, axisLineColor: colours.grid });
  // The time axis in the chosen zone, named under it.
  const timeOptions = () => ({ labelsUTC: utc, xlabel: `Time (${zoneAt(rows.length ? rows[rows.length - 1].t : Date.now())})` });

  // Alarm times as vertical dash-dot lines, each labelled with its text on the first chart.
  function drawAlarmMarks(ctx, area, g, labelled) {
    ctx.save();
    Object.assign(ctx, { strokeStyle: colours.alarm, fillStyle: colours.fg, lineWidth: 1.5, font: '11px system-ui, sans-serif' });
    ctx.setLineDash([6, 3, 2, 3]);
    for (const a of chartAlarms.values()) {
      const x = Math.round(g.toDomXCoord(a.t)) + 0.5;
      if (x < area.x || x > area.x + area.w) continue;
      ctx.beginPath(); ctx.moveTo(x, area.y); ctx.lineTo(x, area.y + area.h); ctx.stroke();
      if (!labelled) continue;
      ctx.save();   // the text runs downwards beside its line
      ctx.translate(x + 3, area.y + 4);
      ctx.rotate(Math.PI / 2);
      ctx.fillText(a.text, 0, 0);
      ctx.restore();
    }
    ctx.restore();
  }

  // Values under the pointer, plus any alarm marked within a few pixels.
  function showReadout(graph, x, points) {
    const parts = [clock(x)];
    for (const p of points) {
      const [, name, unit] = /^(.*?)(?: \((\w)\))?$/.exec(p.name);
      if (num(p.yval) !== null) parts.push(`${name} ${fmt(p.yval, unit === 'W' ? 1 : 2)}${unit ? ` ${unit}` : ''}`);
    }
    const px = graph.toDomXCoord(x);
    const near = [...chartAlarms.values()].filter((a) => Math.abs(graph.toDomXCoord(a.t) - px) <= 8);
    for (const a of near) parts.push(`Alarm ${clock(a.t)} ${a.text}`);
    $('readout').textContent = parts.join(' \u00b7 ');
  }

  // Zooming either chart zooms both; zooming out to everything follows the newest readings again.
  function zoomed(graph, min, max) {
    const all = timeSpan();
    zoomX = graph.isZoomed('x') && (min > all[0] || max < all[1]) ? [min, max] : null;
    drawChart();
  }

  const timeSpan = () => [rows[0].t, Math.max(rows[rows.length - 1].t, rows[0].t + 1000)];

  function createGraph(chart, box, file, span) {
    const labelled = chart.fields.length > 1;
    return new Dygraph(box, file, Object.assign({
      strokeWidth: 2, yLabelWidth: 18, animatedZooms: false, highlightCircleSize: 4, dateWindow: span,
      underlayCallback: (ctx, area, g) => drawAlarmMarks(ctx, area, g, labelled),
      highlightCallback: function (e, x, points) { showReadout(this, x, points); },
      unhighlightCallback: () => { $('readout').textContent = HINT; },
      zoomCallback: function (min, max) { zoomed(this, min, max); },
    }, chart.options, themeOptions(chart), timeOptions()));
  }

  function drawChart() {
    trim();
    const span = zoomX || (rows.length ? timeSpan() : null);
    for (const chart of charts) {
      const box = $(chart.id);
      const file = fileOf(chart);
      const points = file.filter((r) => !isGap(r)).length;
      box.dataset.points = String(points);
      box.dataset.gaps = String(file.length - points);
      if (!haveDygraph) continue;
      if (points === 0) {
        if (chart.graph) { chart.graph.destroy(); chart.graph = null; }
        box.textContent = chart.empty;
      } else if (chart.graph) {
        chart.graph.updateOptions(Object.assign({ file, dateWindow: span }, timeOptions()));
      } else {
        chart.graph = createGraph(chart, box, file, span);
      }
    }
  }

  function setUpChart() {
    showZoneChoice();
    $('zone-local').addEventListener('click', () => chooseZone(false));
    $('zone-utc').addEventListener('click', () => chooseZone(true));
    if (!haveDygraph) {
      const box = $('chart');
      box.textContent = NO_CHART;
      for (const attr of ['role', 'aria-label']) box.removeAttribute(attr);
      box.classList.add('unavailable');
      for (const id of ['reset-zoom', 'chart-key', 'readout', 'current-chart']) $(id).hidden = true;
      return;
    }
    // The stock legend writes style="" attributes, which this page's content
    // security policy refuses; the page shows its own key and readout instead.
    Dygraph.PLUGINS = Dygraph.PLUGINS.filter((p) => p !== Dygraph.Plugins.Legend);
    readColours();
    $('reset-zoom').addEventListener('click', () => {
      zoomX = null;
      for (const chart of charts) if (chart.graph) chart.graph.resetZoom();
      drawChart();
    });
    window.matchMedia('(prefers-color-scheme: light)').addEventListener('change', () => {
      readColours();
      for (const chart of charts) if (chart.graph) chart.graph.updateOptions(themeOptions(chart));
    });
  }

  // ---- Server --------------------------------------------------------------

  async function getJson(path) {
    const reply = await fetch(path, { cache: 'no-store', headers: { Accept: 'application/json' } });
    if (!reply.ok) throw new Error(`${path}: HTTP ${reply.status}`);
    return reply.json();
  }

  function loadHistory() {
    getJson('api/history?minutes=60').then((h) => {
      const list = h && Array.isArray(h.readings) ? h.readings : [];
      const got = list.filter((r) => r && parseTime(r.time)).map((r) => toRow(parseTime(r.time), r));
      // The server's history replaces ours; keep only pushed readings newer than it.
      const newest = got.reduce((m, r) => Math.max(m, r.t), -Infinity);
      rows = rows.filter((r) => r.t > newest);
      addRows(got);
      addChartAlarms(h && h.alarms);
      drawChart();
    }).catch((err) => console.warn('History not loaded:', err.message));
  }

  let retryMs = RETRY_MIN_MS, wasLost = false;
  const setLive = (state, text) => { $('live').dataset.state = state; $('live').textContent = text; };

  function connect() {
    const url = new URL('live', location.href);
    url.protocol = location.protocol === 'https:' ? 'wss:' : 'ws:';
    let ws;
    try { ws = new WebSocket(url.href); } catch (err) { lost(); return; }
    ws.addEventListener('open', () => {
      socketUp = true;
      showFreshness();
      if (wasLost) loadHistory();   // fill in what was missed while away
      wasLost = false;
    });
    ws.addEventListener('message', (ev) => {
      retryMs = RETRY_MIN_MS;
      try { applyState(JSON.parse(ev.data)); } catch (err) { console.warn('Live message not shown:', err.message); }
    });
    ws.addEventListener('close', lost);
  }

  // Retry after 1 s, doubling up to 15 s while the server stays away.
  function lost() {
    wasLost = true;
    socketUp = false;
    gapPending = true;
    showFreshness();
    setLive('lost', 'Connection lost, retrying...');
    setTimeout(connect, retryMs);
    retryMs = Math.min(retryMs * 2, RETRY_MAX_MS);
  }

  setUpChart();
  getJson('api/readings').then(applyState).catch((err) => console.warn('Readings not loaded:', err.message));
  loadHistory();
  connect();
})();
