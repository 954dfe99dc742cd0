// The page of obctl serve. Every action calls the box's API, which calls the
// same operation as obctl's command line; the page adds no rule of its own.
// Text from the box is always put in as text (textContent), never as markup.
'use strict';

const $ = (id) => document.getElementById(id);
let web = {restarts: false};
let status = null;
let settingHints = [];
let watching = null;
let lastAdd = 0;
let sending = null;  // the upload's request while its body goes out  // the add before this page's upload, whose verdict is old

// One element with its text, class and children.
function el(tag, props, ...children) {
  const node = document.createElement(tag);
  for (const [key, value] of Object.entries(props || {})) {
    if (key === 'text') node.textContent = value;
    else if (key === 'class') node.className = value;
    else if (key.startsWith('on')) node.addEventListener(key.slice(2), value);
    else node.setAttribute(key, value);
  }
  for (const child of children) if (child) node.append(child);
  return node;
}

function say(text, bad) {
  const line = $('message');
  line.textContent = text || '';
  line.className = bad ? 'bad' : '';
}

function megabytes(bytes) {
  return (bytes / 1e6).toFixed(1) + ' MB';
}

// GET without a body, POST with one; the answer's JSON and status.
async function api(path, body) {
  const init = body === undefined ? {} : {
    method: 'POST',
    headers: {'X-Orbiel': '1', 'Content-Type': 'application/json'},
    body: JSON.stringify(body),
  };
  let response;
  try {
    response = await fetch('/api/' + path, init);
  } catch (e) {
    return {status: 0, data: {error: 'the box does not answer'}};
  }
  let data = null;
  try {
    data = await response.json();
  } catch (e) {
    data = {error: 'no answer from the box (' + response.status + ')'};
  }
  if (response.status === 401 && path !== 'login') showLogin();
  return {status: response.status, data};
}

function showLogin() {
  $('app').hidden = true;
  $('logout').hidden = true;
  $('login').hidden = false;
  $('password').focus();
}

async function start() {
  const answer = await api('web');
  if (answer.status !== 200) {
    if (answer.status !== 401) say(answer.data.error, true);
    return;
  }
  web = answer.data;
  $('box-name').textContent = web.host ? 'on ' + web.host : '';
  $('login').hidden = true;
  $('app').hidden = false;
  $('logout').hidden = false;
  const hints = await api('settings');
  if (hints.status === 200) settingHints = hints.data;
  await refresh();
  const add = await api('add');
  if (add.status === 200 && add.data && !add.data.finished) watchAdd();
}

async function refresh() {
  const answer = await api('status');
  if (answer.status !== 200) {
    say(answer.data.error, true);
    return;
  }
  status = answer.data;
  showEntries();
  showSettings();
  showPin();
  showMedium();
}

// After an action: its message, then the medium as it is now.
async function act(path, body, done) {
  const answer = await api(path, body);
  if (answer.status !== 200) {
    say(answer.data.error, true);
    return answer;
  }
  say(answer.data.message || done || 'Done.');
  await refresh();
  return answer;
}

// --- the dialog: a question, optionally with a text field ---------------

function ask(question, okText, field) {
  const dialog = $('dialog');
  const input = $('dialog-input');
  $('dialog-text').textContent = question;
  $('dialog-ok').textContent = okText;
  $('dialog-label').hidden = input.hidden = !field;
  if (field) {
    $('dialog-label').textContent = field.label;
    input.value = field.value || '';
  }
  dialog.showModal();
  (field ? input : $('dialog-cancel')).focus();
  return new Promise((resolve) => {
    const finish = (ok) => {
      $('dialog-ok').onclick = $('dialog-cancel').onclick = dialog.oncancel = null;
      dialog.close();
      resolve(ok ? (field ? input.value : true) : null);
    };
    $('dialog-ok').onclick = () => finish(true);
    $('dialog-cancel').onclick = () => finish(false);
    dialog.oncancel = () => finish(false);
    input.onkeydown = (e) => { if (e.key === 'Enter') finish(true); };
  });
}

// --- the menu's entries ---------------------------------------------------

function isNumbered(name) {
  return /^[1-8]$/.test(name);
}

function entryButtons(entry) {
  const name = entry.name;
  const label = entry.label;
  const buttons = [];
  if (entry.boots && web.restarts) {
    buttons.push(el('button', {type: 'button', text: 'Boot now', 'aria-label': 'Boot ' + label + ' now',
      onclick: async () => {
        if (await ask('Restart the box now and boot ' + label + ' once? The start after it boots the stored choice again.', 'Boot now'))
          if ((await act('boot', {name})).status === 200) say(name + ' boots now: the box is restarting.');
      }}));
  }
  if (entry.boots && name !== status.choice.stored) {
    buttons.push(el('button', {type: 'button', class: 'plain', text: 'Make default',
      'aria-label': 'Make ' + label + ' the default', onclick: () => act('default', {name}, label + ' is the default now.')}));
  }
  if (name === 'Flash') return buttons;
  buttons.push(el('button', {type: 'button', class: 'plain', text: 'Rename', 'aria-label': 'Rename ' + label,
    onclick: async () => {
      const to = await ask('Rename the image ' + name + '.', 'Rename', {label: 'New name', value: name});
      if (to !== null) act('rename', {name, to}, name + ' is ' + to + ' now.');
    }}));
  if (isNumbered(name)) {
    buttons.push(el('button', {type: 'button', class: 'plain', text: 'Label', 'aria-label': 'Label ' + label,
      onclick: async () => {
        const text = await ask('The label the menu shows for image ' + name + ' (one word).', 'Save',
          {label: 'Label', value: label.replace(/^\d \((.*)\)$/, '$1')});
        if (text !== null) act('label', {name, label: text});
      }}));
  }
  buttons.push(el('button', {type: 'button', class: 'danger', text: 'Remove', 'aria-label': 'Remove ' + label,
    onclick: async () => {
      if (await ask('Delete the image ' + name + ' and all its files from the medium? This cannot be undone.', 'Remove ' + name))
        act('remove', {name}, name + ' is removed.');
    }}));
  return buttons;
}

function showEntries() {
  const list = $('entries');
  list.replaceChildren();
  const choice = status.choice;
  $('choice-line').textContent = 'The box boots ' + choice.stored + ' at every start' +
    (choice.one_shot ? ', and ' + choice.one_shot + ' once at the next start.' : '.');
  for (const entry of status.entries) {
    const title = el('div', {class: 'entry-title'},
      el('span', {class: 'entry-number', text: String(entry.index)}),
      el('span', {class: 'entry-label', text: entry.label}),
      entry.name === choice.stored ? el('span', {class: 'tag default', text: 'default'}) : null,
      entry.name === choice.one_shot ? el('span', {class: 'tag once', text: 'next start'}) : null);
    const state = entry.boots ? el('p', {class: 'boots', text: 'boots'})
      : el('p', {class: 'problem', text: 'would not boot: ' + entry.problem});
    list.append(el('li', {'data-name': entry.name}, title, state, el('div', {}, ...entryButtons(entry))));
  }
  const left = $('not-listed');
  left.replaceChildren();
  for (const image of status.not_listed)
    left.append(el('li', {text: image.name + ': ' + image.reason}));
  $('left-out').hidden = status.not_listed.length === 0;
}

// --- adding by upload ---------------------------------------------------------

const phases = {
  waiting: 'Waiting for the archive', cleaning: 'Clearing what an interrupted add left',
  unpacking: 'Unpacking', checking: 'Checking it as the box would boot it',
  placing: 'Putting it in the menu', done: 'Finished',
};

function showAdd(add) {
  $('add-progress').hidden = false;
  const bar = $('add-bar');
  if (add.total > 0 && add.phase !== 'done') {
    bar.max = add.total;
    bar.value = Math.min(add.received, add.total);
  } else {
    bar.max = 1;
    bar.value = add.phase === 'done' ? 1 : 0;
  }
  let text = (phases[add.phase] || add.phase) + ': ' + megabytes(add.received) +
    (add.total ? ' of ' + megabytes(add.total) : '') + ' received, ' + add.files + ' files written.';
  if (add.verdict) text = add.verdict.message;
  $('add-text').textContent = text;
  $('add-text').className = add.verdict && add.verdict.status !== 200 ? 'error' : '';
}

async function watchAdd() {
  if (watching) return;
  $('add-button').disabled = true;
  watching = setInterval(async () => {
    const answer = await api('add');
    if (answer.status !== 200 || !answer.data || answer.data.id === lastAdd) return;
    showAdd(answer.data);
    if (answer.data.finished) {
      // A refused archive: no need to send the rest of it.
      if (sending) sending.abort();
      clearInterval(watching);
      watching = null;
      $('add-button').disabled = false;
      say(answer.data.verdict.message, answer.data.verdict.status !== 200);
      refresh();
    }
  }, 500);
}

async function upload(event) {
  event.preventDefault();
  const file = $('add-file').files[0];
  if (!file) return;
  const before = await api('add');
  lastAdd = before.status === 200 && before.data ? before.data.id : 0;
  const slot = $('add-slot').value;
  const query = new URLSearchParams({name: $('add-name').value, label: $('add-label').value,
    slot, replace: $('add-replace').checked ? '1' : '0', file: file.name});
  const request = new XMLHttpRequest();
  request.open('POST', '/api/add?' + query);
  request.setRequestHeader('X-Orbiel', '1');
  request.upload.onprogress = (e) => {
    const bar = $('add-bar');
    bar.max = e.total || file.size;
    bar.value = e.loaded;
  };
  sending = request;
  request.onloadend = () => { sending = null; };
  request.onload = () => {
    let data = null;
    try { data = JSON.parse(request.responseText); } catch (e) { data = null; }
    if (request.status !== 200 && !(data && data.add)) {
      // Refused before anything was read: the error says why.
      clearInterval(watching);
      watching = null;
      $('add-button').disabled = false;
      $('add-progress').hidden = true;
      say(data ? data.error : 'the box refused the upload (' + request.status + ')', true);
    }
  };
  say('');
  showAdd({phase: 'waiting', received: 0, total: file.size, files: 0});
  watchAdd();
  request.send(file);
}

// --- settings, each checked by the box's own rule before it is sent --------

function settingValue(key) {
  const value = status.settings[key];
  if (key === 'resolution') {
    const hints = settingHints.find((h) => h.key === key) || {};
    const choice = (hints.choices || []).find((c) => c.text === value);
    return choice ? choice.value : '';
  }
  if (typeof value === 'boolean') return value ? 'on' : 'off';
  return value === null ? '' : String(value);
}

function settingField(hints, id) {
  if (hints.on_off) {
    return el('select', {id}, el('option', {value: 'on', text: 'on'}), el('option', {value: 'off', text: 'off'}));
  }
  if (hints.choices) {
    const select = el('select', {id}, el('option', {value: '', text: '1280x720 (without the setting)'}));
    for (const choice of hints.choices) select.append(el('option', {value: choice.value, text: choice.text}));
    return select;
  }
  const input = el('input', {id, autocomplete: 'off', autocapitalize: 'off', spellcheck: 'false'});
  if (hints.min !== undefined) {
    input.type = 'number';
    input.min = hints.min;
    input.max = hints.max;
    input.inputMode = 'numeric';
  }
  return input;
}

const settingNames = {
  timeout: 'Menu time-out in seconds', progress: 'Time-out shown as a shrinking bar',
  color: 'Grey level of the menu\'s accent colour', resolution: 'Menu resolution',
  bootcolor: 'Colour format before the menu', mask: 'Remote-control mask before the menu',
  menu: 'Boot menu',
};

function showSettings() {
  const box = $('settings');
  box.replaceChildren();
  for (const hints of settingHints) {
    const id = 'setting-' + hints.key;
    const field = settingField(hints, id);
    field.value = settingValue(hints.key);
    const note = el('p', {class: 'hint', id: id + '-hint', text: 'Takes ' + hints.accepted + '.'});
    field.setAttribute('aria-describedby', note.id);
    const save = el('button', {type: 'button', text: 'Save', 'aria-label': 'Save ' + (settingNames[hints.key] || hints.key)});
    const check = async () => {
      if (hints.on_off || hints.choices || field.value === '') {
        save.disabled = false;
        return true;
      }
      const value = field.value;
      const query = new URLSearchParams({key: hints.key, value});
      const answer = await api('settings/check?' + query);
      // An answer for what was typed before: a later one comes.
      if (field.value !== value) return false;
      const takes = answer.status === 200 && answer.data.takes;
      field.setAttribute('aria-invalid', takes ? 'false' : 'true');
      note.className = takes ? 'hint' : 'hint error';
      note.textContent = (takes ? 'Takes ' : 'Not taken as it is: takes ') + hints.accepted + '.';
      save.disabled = !takes;
      return takes;
    };
    field.addEventListener('input', check);
    save.addEventListener('click', async () => {
      if (field.value === '') return act('unset', {key: hints.key});
      if (await check()) act('set', {key: hints.key, value: field.value});
    });
    const row = el('div', {class: 'setting'}, el('label', {for: id, text: settingNames[hints.key] || hints.key}), field, note, save);
    if (!hints.on_off) {
      row.append(el('button', {type: 'button', class: 'plain', text: 'Default',
        'aria-label': 'Remove the setting ' + hints.key, onclick: () => act('unset', {key: hints.key})}));
    }
    box.append(row);
  }
}

// --- PIN, medium, findings ------------------------------------------------------

function showPin() {
  $('pin-state').textContent = status.settings.pin ? 'The menu asks for a PIN.' : 'No PIN: the menu asks for none.';
  $('pin-off').hidden = !status.settings.pin;
}

function showFindings(findings) {
  const list = $('findings');
  list.replaceChildren();
  for (const f of findings)
    list.append(el('li', {class: f.severity + '-finding', text: f.severity + ' ' + f.subject + ': ' + f.text}));
  if (findings.length === 0) list.append(el('li', {text: 'no findings'}));
}

function showMedium() {
  const m = status.medium;
  const rows = [
    ['Label', m.label], ['Folder', m.directory], ['Partition', m.device && m.device + ' (' + m.file_system + ')'],
    ['Free', m.free_bytes !== null ? megabytes(m.free_bytes) + ' of ' + megabytes(m.size_bytes) : null],
    ['Orbiel', status.orbiel_version],
  ];
  const list = $('medium');
  list.replaceChildren();
  for (const [name, value] of rows)
    if (value) list.append(el('dt', {text: name}), el('dd', {text: value}));
  showFindings(status.findings);
}

// --- wiring -----------------------------------------------------------------------------

$('login-form').addEventListener('submit', async (event) => {
  event.preventDefault();
  say('Checking the password ...');
  const answer = await api('login', {password: $('password').value});
  $('password').value = '';
  if (answer.status !== 200) {
    say(answer.data.error, true);
    return;
  }
  say('');
  start();
});

$('logout').addEventListener('click', async () => {
  await api('logout', {});
  status = null;
  showLogin();
  say('Logged out.');
});

$('add-form').addEventListener('submit', upload);

$('add-slot').addEventListener('change', () => {
  const slot = $('add-slot').value;
  if (slot) $('add-name').value = slot;
});

$('pin-form').addEventListener('submit', async (event) => {
  event.preventDefault();
  const answer = await act('pin', {pin: $('pin').value}, 'The PIN is set.');
  if (answer.status === 200) $('pin').value = '';
});

$('pin-off').addEventListener('click', () => act('pin-off', {}, 'The PIN is removed.'));

$('check').addEventListener('click', async () => {
  const answer = await act('check', {}, 'Checked.');
  if (answer.status === 200) {
    showFindings(answer.data.findings);
    if (answer.data.notes.length) say(answer.data.notes.join(' '));
  }
});

start();
