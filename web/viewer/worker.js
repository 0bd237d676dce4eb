// The viewer's worker: each file read as a stream and decoded while it is
// read; the header and every group of completed rows go to the page.
const qvx = WebAssembly.instantiate(Uint8Array.from(atob(QVX_WASM), (c) => c.charCodeAt(0))).then(
  ({ instance }) => createQvx(instance),
);

self.onmessage = async (event) => {
  const { id, file } = event.data;
  let decoder = null;
  try {
    decoder = (await qvx).createDecoder({
      onHeader: (info) => self.postMessage({ id, type: 'header', info }),
      onRows: (rows) => self.postMessage({ id, type: 'rows', rows }, [rows.data.buffer]),
    });
    const reader = file.stream().getReader();
    for (;;) {
      const { done, value } = await reader.read();
      if (done) break;
      decoder.push(value);
    }
    decoder.end();
    self.postMessage({ id, type: 'done' });
  } catch (error) {
    if (decoder) decoder.close();
    self.postMessage({ id, type: 'error', reason: error.reason || 'unreadable', message: String(error.message) });
  }
};
