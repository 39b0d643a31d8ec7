// Vorlan Wattmeter live page: shows the amplifier state pushed over /live
// and a 60-minute chart built from /api/history plus every new reading.
'use strict';

(function () {
  const SCALE_MAX_W = 1100;           // same scale as the desktop bars
  const WINDOW_MS = 60 * 60 * 1000;   // the chart keeps the last 60 minutes
  const RETRY_MIN_MS = 1000, RETRY_MAX_MS = 15000;
  const GAP_MS = 10 * 1000;           // readings further apart than this are not joined
  const TEXT_FIELDS = ['forward', 'reflected', 'vswr', 'stage1', 'stage2', 'stage3', 'stage4', 'total'];
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

  // Local wall-clock time, 24-hour, like the desktop alarm list.
  function clock(ms) {
    if (ms === null) return '--:--:--';
    const d = new Date(ms);
    return `${pad2(d.getHours())}:${pad2(d.getMinutes())}:${pad2(d.getSeconds())}`;
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
      li.textContent = `${clock(parseTime(a.time))} - ${str(a.text)}`;
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
    const since = parseTime(current.over_power_warning_open_since);
    $('warning').hidden = since === null;
    if (since !== null) $('warning').textContent = `Over-power warning open since ${clock(since)}: dismiss it at the window, or with DISMISS WARNING`;
    const failing = current.journal === 'failing';
    $('journal').hidden = !failing;
    if (failing) $('journal').textContent = `Journal cannot be written: ${num(current.journal_lines_waiting) ?? 0} lines waiting, ${num(current.journal_lines_lost) ?? 0} lost`;
    const bus = current.mqtt && typeof current.mqtt === 'object' ? current.mqtt : null;
    $('mqtt').hidden = !bus || (bus.connected === true && !num(bus.publish_refused));
    if (bus) $('mqtt').textContent = bus.connected === true ? `MQTT broker refuses our messages (${num(bus.publish_refused)}): ${str(bus.last_refusal)}` : `MQTT broker lost since ${clock(parseTime(bus.since))}: ${str(bus.reason)}`;
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
    $('updated').textContent = t === null ? 'No readings yet' : `Last reading ${clock(t)}`;

    let changed = addChartAlarms(state.alarms);
    // Silence and a port that is not open break the line before the next reading.
    if (state.amplifier === 'silent' || !state.port_open) gapPending = true;
    if (t !== null && t !== lastReadingTime) {
      lastReadingTime = t;
      const fresh = [toRow(t, state)];
      if (gapPending && rows.length) fresh.unshift(gapRow(t - 1));
      gapPending = false;
      changed = addRows(fresh) || changed;
    }
    if (changed) drawChart();
  }

  // ---- Chart ---------------------------------------------------------------

  const haveDygraph = typeof Dygraph === 'function';
  let graph = null, lastReadingTime = null, gapPending = false;
  let rows = [];                 // [Date, forward W, reflected W, VSWR], oldest first
  const chartAlarms = new Map(); // alarmKey -> {t, text}
  const colours = {};            // series and grid colours from style.css

  const toRow = (t, r) => [new Date(t), num(r.forward_w), num(r.reflected_w), num(r.vswr)];
  const gapRow = (t) => [new Date(t), null, null, null];
  const isGap = (r) => r[1] === null && r[2] === null && r[3] === null;

  function addRows(newRows) {
    const all = rows.concat(newRows).sort((a, b) => a[0] - b[0]);
    rows = all.filter((r, i) => i === 0 || r[0].getTime() !== all[i - 1][0].getTime());
    return newRows.length > 0;
  }

  // What the chart draws: a null point wherever two readings are too far apart, so that no line
  // joins readings across a spell without any.
  function withGaps() {
    const out = [];
    for (const r of rows) {
      const prev = out[out.length - 1];
      if (prev && !isGap(prev) && !isGap(r) && r[0] - prev[0] > GAP_MS) out.push(gapRow(r[0].getTime() - 1));
      out.push(r);
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
    const cutoff = rows[rows.length - 1][0].getTime() - WINDOW_MS;
    const first = rows.findIndex((r) => r[0].getTime() >= cutoff);
    if (first > 0) rows = rows.slice(first);
    for (const [key, a] of chartAlarms) if (a.t < cutoff) chartAlarms.delete(key);
  }

  function readColours() {
    const css = getComputedStyle(document.documentElement);
    for (const name of ['fwd', 'ref', 'vswr', 'alarm', 'grid', 'fg']) colours[name] = css.getPropertyValue(`--${name}`).trim();
  }

  const themeOptions = () => ({ colors: [colours.fwd, colours.ref, colours.vswr],
                                gridLineColor: colours.grid, axisLineColor: colours.grid });

  // Alarm times as vertical dash-dot lines, each labelled with its text.
  function drawAlarmMarks(ctx, area, g) {
    ctx.save();
    Object.assign(ctx, { strokeStyle: colours.alarm, fillStyle: colours.fg, lineWidth: 1.5, font: '11px system-ui, sans-serif' });
    ctx.setLineDash([6, 3, 2, 3]);
    for (const a of chartAlarms.values()) {
      const x = Math.round(g.toDomXCoord(a.t)) + 0.5;
      if (x < area.x || x > area.x + area.w) continue;
      ctx.beginPath(); ctx.moveTo(x, area.y); ctx.lineTo(x, area.y + area.h); ctx.stroke();
      ctx.save();   // the text runs downwards beside its line
      ctx.translate(x + 3, area.y + 4);
      ctx.rotate(Math.PI / 2);
      ctx.fillText(a.text, 0, 0);
      ctx.restore();
    }
    ctx.restore();
  }

  // Values under the pointer, plus any alarm marked within a few pixels.
  function showReadout(event, x, points) {
    const parts = [clock(x)];
    for (const p of points) {
      const watts = p.name !== 'VSWR';
      if (num(p.yval) !== null) parts.push(`${p.name.replace(' (W)', '')} ${fmt(p.yval, watts ? 1 : 2)}${watts ? ' W' : ''}`);
    }
    const px = graph.toDomXCoord(x);
    const near = [...chartAlarms.values()].filter((a) => Math.abs(graph.toDomXCoord(a.t) - px) <= 8);
    for (const a of near) parts.push(`Alarm ${clock(a.t)} ${a.text}`);
    $('readout').textContent = parts.join(' \u00b7 ');
  }

  function createGraph(box) {
    return new Dygraph(box, withGaps(), Object.assign({
      labels: ['Time', 'Forward (W)', 'Reflected (W)', 'VSWR'], strokeWidth: 2,
      series: { 'Reflected (W)': { strokePattern: [8, 4] }, VSWR: { axis: 'y2', strokePattern: [2, 4] } },
      // Dygraphs sets each axis title inside its tick labels' width, at the outer edge: the
      // widths leave the title its own strip beside the widest tick label ("1000", "1.25").
      axes: { y: { includeZero: true, axisLabelWidth: 54 },
              y2: { independentTicks: true, drawGrid: false, axisLabelWidth: 56 } },
      ylabel: 'Power (W)', y2label: 'VSWR', yLabelWidth: 18,
      animatedZooms: false, highlightCircleSize: 4,
      underlayCallback: drawAlarmMarks, highlightCallback: showReadout,
      unhighlightCallback: () => { $('readout').textContent = HINT; },
    }, themeOptions()));
  }

  function drawChart() {
    trim();
    const box = $('chart');
    const file = withGaps();
    box.dataset.points = String(file.filter((r) => !isGap(r)).length);
    box.dataset.gaps = String(file.filter(isGap).length);
    if (!haveDygraph) return;
    if (rows.length === 0) {
      if (graph) { graph.destroy(); graph = null; }
      box.textContent = 'Waiting for readings...';
    } else if (graph) {
      graph.updateOptions({ file });
    } else {
      graph = createGraph(box);
    }
  }

  function setUpChart() {
    const box = $('chart');
    if (!haveDygraph) {
      box.textContent = NO_CHART;
      for (const attr of ['role', 'aria-label']) box.removeAttribute(attr);
      box.classList.add('unavailable');
      for (const id of ['reset-zoom', 'chart-key', 'readout']) $(id).hidden = true;
      return;
    }
    // The stock legend writes style="" attributes, which this page's content
    // security policy refuses; the page shows its own key and readout instead.
    Dygraph.PLUGINS = Dygraph.PLUGINS.filter((p) => p !== Dygraph.Plugins.Legend);
    readColours();
    $('reset-zoom').addEventListener('click', () => { if (graph) graph.resetZoom(); });
    window.matchMedia('(prefers-color-scheme: light)').addEventListener('change', () => {
      readColours();
      if (graph) graph.updateOptions(themeOptions());
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
      const newest = got.reduce((m, r) => Math.max(m, r[0].getTime()), -Infinity);
      rows = rows.filter((r) => r[0].getTime() > newest);
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
