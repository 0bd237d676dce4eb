// The viewer page: files from the input or a drop go to the worker, and
// each gets a card whose canvas fills as its rows arrive.
(function () {
  'use strict';

  const MESSAGES = {
    'not-qvx': 'This file is not a QVX picture.',
    truncated: 'The file ends before the picture does: it may have been cut short.',
    'too-large': 'The picture has too many pixels to be shown here.',
    'no-memory': 'There is not enough memory to show this picture.',
  };

  // The worker starts from its text, which a page opened from a folder on
  // disk may use where it may not load a worker script.
  const source = new Blob([`(${self.qvxWorkerMain})()`], { type: 'text/javascript' });
  const worker = new Worker(URL.createObjectURL(source));
  const cards = new Map();
  let next = 0;

  function element(tag, className, text) {
    const node = document.createElement(tag);
    if (className) node.className = className;
    if (text) node.textContent = text;
    return node;
  }

  function sizeText(bytes) {
    if (bytes < 1024) return `${bytes} bytes`;
    if (bytes < 1024 * 1024) return `${(bytes / 1024).toFixed(1)} KiB`;
    return `${(bytes / 1024 / 1024).toFixed(1)} MiB`;
  }

  function save(card) {
    card.canvas.toBlob((blob) => {
      const link = element('a');
      link.href = URL.createObjectURL(blob);
      link.download = `${card.name.replace(/\.qvx$/i, '')}.png`;
      link.click();
      setTimeout(() => URL.revokeObjectURL(link.href), 10000);
    }, 'image/png');
  }

  function open(file) {
    const id = next++;
    const node = element('figure', 'card');
    node.dataset.state = 'decoding';
    node.dataset.name = file.name;
    const canvas = element('canvas');
    canvas.width = canvas.height = 0;
    const caption = element('figcaption');
    const facts = element('div', 'facts', `${sizeText(file.size)}, decoding…`);
    const button = element('button', 'save', 'Save as PNG');
    button.disabled = true;
    caption.append(element('div', 'name', file.name), facts);
    node.append(canvas, caption, button);
    document.getElementById('pictures').append(node);
    const card = { node, canvas, facts, button, name: file.name, size: file.size, context: null };
    button.addEventListener('click', () => save(card));
    cards.set(id, card);
    worker.postMessage({ id, file });
  }

  function openAll(files) {
    for (const file of files) open(file);
  }

  worker.onmessage = (event) => {
    const message = event.data;
    const card = cards.get(message.id);
    if (message.type === 'header') {
      const { width, height, depth } = message.info;
      card.canvas.width = width;
      card.canvas.height = height;
      card.context = card.canvas.getContext('2d');
      card.facts.textContent = `${width} × ${height} pixels, ${depth}-bit, ${sizeText(card.size)}`;
    } else if (message.type === 'rows') {
      const { y, width, height, data } = message.rows;
      card.context.putImageData(new ImageData(data, width, height), 0, y);
    } else if (message.type === 'done') {
      card.node.dataset.state = 'done';
      card.button.disabled = false;
      cards.delete(message.id);
    } else {
      card.node.dataset.state = 'error';
      card.node.classList.add('error');
      card.canvas.remove();
      card.button.remove();
      card.facts.textContent = sizeText(card.size);
      card.node.append(element('p', 'message', MESSAGES[message.reason] || `This file cannot be read: ${message.message}`));
      cards.delete(message.id);
    }
  };

  const input = document.getElementById('files');
  input.addEventListener('change', () => {
    openAll(input.files);
    input.value = '';
  });

  const drop = document.getElementById('drop');
  document.addEventListener('dragover', (event) => {
    event.preventDefault();
    drop.classList.add('over');
  });
  document.addEventListener('dragleave', () => drop.classList.remove('over'));
  document.addEventListener('drop', (event) => {
    event.preventDefault();
    drop.classList.remove('over');
    openAll(event.dataTransfer.files);
  });
})();
