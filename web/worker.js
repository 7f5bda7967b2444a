// Work that would hold the page for long (the song's synthesis, inflating the
// label sheet), done in a worker of its own instead.

// Runs work(argument) in a worker made from the functions' own text, so each
// must use nothing but the worker's globals and the helpers given with it;
// resolves with its result, whose typed arrays come back without a copy.
// Where the browser makes no such worker, or it fails, the page does the work.
export function inWorker(work, argument, helpers = []) {
  const inPage = () => work(argument);
  try {
    const source = [...helpers, work].map((helper) => `const ${helper.name} = ${helper};`).join("\n") + `
onmessage = async ({ data }) => {
  try {
    const result = await ${work.name}(data);
    const arrays = ArrayBuffer.isView(result) ? [result] : Object.values(result).filter(ArrayBuffer.isView);
    const buffers = arrays.map((array) => array.buffer);
    postMessage({ result }, buffers);
  } catch (error) {
    postMessage({ error: String(error?.message ?? error) });
  }
};`;
    const url = URL.createObjectURL(new Blob([source], { type: "text/javascript" }));
    const worker = new Worker(url);
    return new Promise((resolve, reject) => {
      const done = () => {
        worker.terminate();
        URL.revokeObjectURL(url);
      };
      worker.onmessage = ({ data }) => {
        done();
        if (data.error !== undefined) reject(new Error(data.error));
        else resolve(data.result);
      };
      worker.onerror = (event) => {
        event.preventDefault();
        done();
        reject(new Error(event.message));
      };
      worker.postMessage(argument);
    }).catch(inPage);
  } catch {
    return inPage();
  }
}
