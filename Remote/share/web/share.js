// The live view: pictures arrive over the WebSocket /live, the instrument's status as JSON text
// messages on the same socket. With the share's token in the page's address (and control
// allowed by the share) keys and clicks on the picture go to POST /api/key, one after the
// other in the order they were made.
'use strict';

(function () {
  const token = new URLSearchParams(location.search).get('token') || '';
  const img = document.getElementById('screen');
  const el = (id) => document.getElementById(id);
  const stateNames = {
    disconnected: 'Disconnected',
    connecting: 'Connecting',
    connected: 'Connected, stopped',
    started: 'Live',
    linkLost: 'No answer',
    reconnecting: 'Reconnecting',
    replay: 'Replay',
  };

  // What the page has seen, for whoever looks (and for the tests that drive it).
  const view = {
    frames: 0,
    checksum: 0,
    info: null,
    connected: false,
    keysSent: 0,
    lastKeyStatus: 0,
  };
  window.klrShare = view;

  let shownUrl = null;
  let arrivals = [];
  let keyChain = Promise.resolve();
  let keysFor = '';

  function notice(text) {
    const n = el('notice');
    n.textContent = text || '';
    n.hidden = !text;
  }

  function controlOn() {
    return token !== '' && view.info && view.info.control;
  }

  function showRate() {
    const now = performance.now();
    arrivals = arrivals.filter((t) => now - t < 5000);
    let text = '\u2013 pictures/s';
    if (arrivals.length >= 2) {
      const span = (arrivals[arrivals.length - 1] - arrivals[0]) / 1000;
      if (span > 0) text = ((arrivals.length - 1) / span).toFixed(1) + ' pictures/s';
    }
    el('rate').textContent = text;
  }

  function buildKeys(info) {
    const nav = el('keys');
    const wanted = controlOn() ? JSON.stringify(info.keys || []) : '';
    if (wanted !== keysFor) {
      keysFor = wanted;
      nav.replaceChildren();
      if (wanted) {
        for (const key of info.keys || []) {
          const b = document.createElement('button');
          b.type = 'button';
          b.textContent = key.label;
          b.dataset.command = key.command;
          b.title = key.command;
          b.addEventListener('click', () => sendKey(key.command));
          nav.appendChild(b);
        }
      }
    }
    nav.hidden = !wanted;
    for (const b of nav.querySelectorAll('button')) b.disabled = !info.started;
  }

  function showInfo(info) {
    view.info = info;
    el('model').textContent = info.model || 'KLRemote';
    el('family').textContent = info.family || '';
    document.title = info.model ? info.model + ' \u2013 KLRemote' : 'KLRemote';
    const s = el('state');
    s.textContent = stateNames[info.state] || info.state || '';
    s.className = 'badge state-' + (info.state || 'disconnected');
    el('viewers').textContent = info.viewers === 1 ? '1 viewer' : info.viewers + ' viewers';
    img.classList.toggle('touch', controlOn() && info.touch && info.started);
    buildKeys(info);
    if (token && !info.control) notice('Control from the browser is off for this share.');
    else if (!info.started && view.frames === 0) notice('Waiting for the instrument\u2026');
    else notice('');
  }

  function showPicture(buffer) {
    const bytes = new Uint8Array(buffer);
    let sum = bytes.length;
    for (let i = 0; i < bytes.length; i += 61) sum = (sum * 31 + bytes[i]) % 2147483647;
    view.checksum = sum;
    const next = URL.createObjectURL(new Blob([buffer], { type: 'image/jpeg' }));
    const previous = shownUrl;
    shownUrl = next;
    img.src = next;
    if (previous) URL.revokeObjectURL(previous);
    view.frames += 1;
    arrivals.push(performance.now());
    showRate();
    if (view.info && view.info.started) notice('');
  }

  function sendKey(text) {
    if (!controlOn()) return;
    // Each key waits for the answer to the one before, so that they arrive in order.
    keyChain = keyChain
      .then(() =>
        fetch('/api/key?token=' + encodeURIComponent(token), {
          method: 'POST',
          headers: { 'Content-Type': 'text/plain' },
          body: text,
        }))
      .then((r) => {
        view.lastKeyStatus = r.status;
        if (r.ok) view.keysSent += 1;
        else r.text().then((t) => notice('Key not taken: ' + t.trim()));
      })
      .catch(() => notice('Key not sent: the share does not answer'));
  }

  // A click on the picture is a touch at the instrument's own pixel.
  img.addEventListener('click', (event) => {
    const info = view.info;
    if (!controlOn() || !info.touch || !info.started || !img.naturalWidth) return;
    const r = img.getBoundingClientRect();
    const scale = Math.min(r.width / img.naturalWidth, r.height / img.naturalHeight);
    const left = r.left + (r.width - img.naturalWidth * scale) / 2;
    const top = r.top + (r.height - img.naturalHeight * scale) / 2;
    const x = Math.floor((event.clientX - left) / scale);
    const y = Math.floor((event.clientY - top) / scale);
    if (x < 0 || y < 0 || x >= img.naturalWidth || y >= img.naturalHeight) return;
    sendKey('KEYP ' + x + ',' + y);
  });

  function connect() {
    const ws = new WebSocket('ws://' + location.host + '/live');
    ws.binaryType = 'arraybuffer';
    ws.onopen = () => {
      view.connected = true;
      el('link').textContent = 'live';
      el('link').className = 'figure link-up';
    };
    ws.onmessage = (event) => {
      if (typeof event.data === 'string') showInfo(JSON.parse(event.data));
      else showPicture(event.data);
    };
    ws.onclose = () => {
      view.connected = false;
      el('link').textContent = 'reconnecting';
      el('link').className = 'figure link-down';
      fetch('/api/info')
        .then((r) => r.json())
        .then((info) => {
          showInfo(info);
          if (info.viewers >= info.maxViewers)
            notice('The share is full (' + info.maxViewers + ' viewers); trying again\u2026');
        })
        .catch(() => notice('The share does not answer; trying again\u2026'));
      setTimeout(connect, 2000);
    };
  }

  setInterval(showRate, 1000);
  connect();
})();
