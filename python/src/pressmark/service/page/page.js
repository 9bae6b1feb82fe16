// The page's behaviour: the operations come from the service's own OpenAPI
// document, the work goes through its job routes (submit, poll, result) and
// the pages of a PDF result are shown from its thumbnails route. Every
// request goes to this same service; the key, when one is needed, stays in
// this tab's session storage.
"use strict";

const KEY_STORE = "pressmark-api-key";
// Friendlier names for the operations people look for; any other operation
// the service offers is listed under its own summary.
const NAMES = {
  "/v1/convert": "Convert to PDF", "/v1/merge": "Merge PDFs", "/v1/ocr": "Make a scan searchable (OCR)",
  "/v1/pdfa": "Make a PDF/A", "/v1/compress": "Compress a PDF", "/v1/protect": "Protect with a password",
  "/v1/pages/rotate": "Rotate pages", "/v1/pages/extract": "Extract or split pages",
  "/v1/pages/delete": "Delete pages", "/v1/fields/fill": "Fill a form", "/v1/watermark": "Add a watermark",
  "/v1/sign": "Sign", "/v1/text": "Get the text",
};
const MAIN_FILES = ["file", "files"];
const FILL = "/v1/fields/fill";
const LIST_FIELDS = "/v1/fields/list";

const $ = (id) => document.getElementById(id);
let operations = {};     // path -> {summary, props}
let maxBody = 0;
let thumbnailsRoute = false;
let resultUrl = null;
const imageUrls = [];

class Problem extends Error {
  constructor(title, detail) { super(title + ": " + detail); this.title = title; this.detail = detail; }
}

function key() { return sessionStorage.getItem(KEY_STORE) || ""; }

async function call(path, init = {}) {
  const headers = new Headers(init.headers || {});
  if (key()) headers.set("Authorization", "Bearer " + key());
  let response;
  try {
    response = await fetch(path, { ...init, headers, credentials: "omit", cache: "no-store" });
  } catch (e) {
    throw new Problem("The service cannot be reached", String(e.message || e));
  }
  if (response.status === 401) showKey(true);
  if (!response.ok) throw await problemOf(response);
  return response;
}

async function problemOf(response) {
  let body = null;
  try { body = await response.json(); } catch (e) { body = null; }
  if (body && typeof body.title === "string") return new Problem(body.title, String(body.detail || ""));
  return new Problem("The service answered " + response.status, response.statusText || "");
}

function showProblem(p) {
  $("problem-title").textContent = p.title || "Something went wrong";
  $("problem-detail").textContent = p.detail || String(p.message || p);
  $("problem").hidden = false;
  $("status").textContent = "";
  $("progress").hidden = true;
}

function showKey(needed) {
  $("key-box").hidden = false;
  $("key-forget").hidden = !key();
  if (needed && key()) $("key-why").textContent = "The service refused this key. Type the right one.";
}

// ---- The operations, from the OpenAPI document ----

function formSchema(post) {
  const body = post && post.requestBody && post.requestBody.content;
  const form = body && body["multipart/form-data"];
  return form && form.schema && form.schema.properties ? form.schema.properties : null;
}

function isFile(prop) {
  return prop.format === "binary" || (prop.type === "array" && prop.items && prop.items.format === "binary");
}

async function loadOperations() {
  const [api, limits] = await Promise.all([call("/openapi.json").then((r) => r.json()),
    call("/v1/limits").then((r) => r.json()).catch(() => ({}))]);
  maxBody = Number(limits.maxBody) || 0;
  operations = {};
  for (const [path, item] of Object.entries(api.paths || {})) {
    const props = formSchema(item.post);
    if (!path.startsWith("/v1/") || !props || !Object.values(props).some(isFile)) continue;
    operations[path] = { summary: item.post.summary || path, props };
  }
  thumbnailsRoute = "/v1/thumbnails" in operations;
  const known = Object.keys(NAMES).filter((p) => p in operations);
  const rest = Object.keys(operations).filter((p) => !(p in NAMES)).sort();
  const select = $("operation");
  select.replaceChildren(...[...known, ...rest].map((p) => new Option(NAMES[p] || operations[p].summary, p)));
  select.disabled = false;
  $("submit").disabled = false;
  $("files-note").textContent = maxBody ? `Up to ${size(maxBody)} in all.` : "";
  $("key-box").hidden = !key();
  $("key-forget").hidden = !key();
  showOptions();
}

function size(n) {
  return n >= 1048576 ? (n / 1048576).toFixed(1) + " MB" : n >= 1024 ? Math.ceil(n / 1024) + " kB" : n + " bytes";
}

function field(id, labelText, input) {
  const row = document.createElement("div");
  row.className = "row";
  const label = document.createElement("label");
  label.htmlFor = id;
  label.textContent = labelText;
  input.id = id;
  row.append(label, input);
  return row;
}

// The file fields the dropped or chosen files go to: file and files where the
// route has them, else its first file field. Other file fields get inputs of their own.
function mainFiles(op) {
  const named = MAIN_FILES.filter((n) => n in op.props);
  return named.length ? named : Object.keys(op.props).filter((n) => isFile(op.props[n])).slice(0, 1);
}

// A yes-or-no field: a member's bln argument, or a route's field described as "true ...".
function isSwitch(name, prop) {
  return /^bln/i.test(name) || /^true\b/i.test(prop.description || "");
}

function showOptions() {
  const op = operations[$("operation").value];
  const list = $("option-fields");
  list.replaceChildren();
  $("operation-note").textContent = op ? op.summary : "";
  if (!op) return;
  const main = mainFiles(op);
  for (const [name, prop] of Object.entries(op.props)) {
    if (main.includes(name) || (name === "values" && $("operation").value === FILL)) continue;
    const input = document.createElement("input");
    input.name = name;
    if (isFile(prop)) {
      input.type = "file";
      input.multiple = prop.type === "array";
    } else if (isSwitch(name, prop)) {
      input.type = "checkbox";
      input.checked = String(prop.default) === "true";
    } else {
      input.type = /password/i.test(name) ? "password" : "text";
      if (prop.default !== undefined) input.value = String(prop.default);
    }
    // The description first, as a person reads it; the field's name for those who know the API.
    const text = prop.description ? `${prop.description} (${name})` : name;
    list.append(field("opt-" + name, text, input));
  }
  $("options").hidden = !list.children.length;
  showFormFields();
}

// ---- A form to fill: its fields shown as a form ----

async function showFormFields() {
  const box = $("form-fields");
  const list = $("form-field-list");
  const file = $("files").files[0];
  list.replaceChildren();
  box.hidden = true;
  if ($("operation").value !== FILL || !file || !(LIST_FIELDS in operations)) return;
  try {
    const answer = await run(LIST_FIELDS, { file: [file] }, "Reading the form's fields");
    const fields = JSON.parse(await answer.blob.text()).fields || [];
    fields.filter((f) => !["signature", "button"].includes(f.type)).forEach((f, i) => {
      const input = document.createElement("input");
      input.dataset.field = f.name;
      input.type = f.type === "checkbox" ? "checkbox" : "text";
      if (input.type === "checkbox") input.checked = f.value && f.value !== "Off";
      else input.value = f.value == null ? "" : String(f.value);
      list.append(field("form-field-" + i, f.name, input));
    });
    box.hidden = !list.children.length;
    $("status").textContent = list.children.length ? "Fill in the fields, then start." : "This PDF has no fields to fill.";
  } catch (p) {
    showProblem(p);
  }
}

function formValues() {
  const values = {};
  for (const input of $("form-field-list").querySelectorAll("input")) {
    values[input.dataset.field] = input.type === "checkbox" ? (input.checked ? "Yes" : "Off") : input.value;
  }
  return values;
}

// ---- A job: submitted, polled, its result fetched ----

async function run(path, files, what, fields = {}) {
  const form = new FormData();
  for (const [name, list] of Object.entries(files)) for (const f of list) form.append(name, f, f.name);
  for (const [name, value] of Object.entries(fields)) form.append(name, value);
  $("status").textContent = what + "…";
  let response = await call(path, { method: "POST", body: form, headers: { Prefer: "respond-async" } });
  if (response.status === 202) {
    const progress = $("progress");
    progress.hidden = false;
    let job = await response.json();
    while (job.status !== "done" && job.status !== "failed") {
      progress.value = job.progress || 0;
      $("status").textContent = `${what}: ${job.status === "running" ? "working" : "waiting"}, ${job.progress || 0}%`;
      await new Promise((r) => setTimeout(r, 400));
      job = await (await call("/v1/jobs/" + encodeURIComponent(job.id))).json();
    }
    progress.value = 100;
    if (job.status === "failed") throw new Problem(job.error.title, job.error.detail);
    response = await call(job.result);
    progress.hidden = true;
  }
  return { blob: await response.blob(), name: fileName(response), type: response.headers.get("content-type") || "" };
}

function fileName(response) {
  const disposition = response.headers.get("content-disposition") || "";
  const star = /filename\*=utf-8''([^;]+)/i.exec(disposition);
  const plain = /filename="?([^";]+)"?/i.exec(disposition);
  try { if (star) return decodeURIComponent(star[1]); } catch (e) { /* the plain name below */ }
  return plain ? plain[1] : "result";
}

// ---- Thumbnails: one PNG, or a ZIP of them ----

async function unzip(blob) {
  const data = new Uint8Array(await blob.arrayBuffer());
  const view = new DataView(data.buffer);
  let end = data.length - 22;
  while (end >= 0 && view.getUint32(end, true) !== 0x06054b50) end--;
  if (end < 0) throw new Problem("The pages cannot be shown", "the thumbnails are not a ZIP file");
  const entries = [];
  let at = view.getUint32(end + 16, true);
  for (let i = 0; i < view.getUint16(end + 10, true); i++) {
    const method = view.getUint16(at + 10, true);
    const packed = view.getUint32(at + 20, true);
    const nameLength = view.getUint16(at + 28, true);
    const skip = nameLength + view.getUint16(at + 30, true) + view.getUint16(at + 32, true);
    const local = view.getUint32(at + 42, true);
    const name = new TextDecoder().decode(data.subarray(at + 46, at + 46 + nameLength));
    const start = local + 30 + view.getUint16(local + 26, true) + view.getUint16(local + 28, true);
    let part = new Blob([data.subarray(start, start + packed)]);
    if (method === 8) part = await new Response(part.stream().pipeThrough(new DecompressionStream("deflate-raw"))).blob();
    else if (method !== 0) throw new Problem("The pages cannot be shown", "the thumbnails are packed in an unknown way");
    entries.push({ name, blob: new Blob([part], { type: "image/png" }) });
    at += 46 + skip;
  }
  return entries;
}

async function showThumbnails(result) {
  if (!thumbnailsRoute || !/^application\/pdf/.test(result.type)) return;
  const pdf = new File([result.blob], "result.pdf", { type: "application/pdf" });
  // A quarter of the page's size: big enough to tell the pages apart.
  const thumbs = await run("/v1/thumbnails", { file: [pdf] }, "Making pictures of the pages", { intZoom: "25" });
  const images = /zip/.test(thumbs.type) ? await unzip(thumbs.blob) : [{ name: "page-1.png", blob: thumbs.blob }];
  const list = $("thumbs");
  images.forEach((image, i) => {
    const url = URL.createObjectURL(image.blob);
    imageUrls.push(url);
    const item = document.createElement("li");
    const figure = document.createElement("figure");
    const img = document.createElement("img");
    img.src = url;
    img.alt = `Page ${i + 1} of the result`;
    const caption = document.createElement("figcaption");
    caption.textContent = `Page ${i + 1}`;
    figure.append(img, caption);
    item.append(figure);
    list.append(item);
  });
}

// ---- The form ----

function clearResult() {
  $("problem").hidden = true;
  $("download-row").hidden = true;
  $("result-text").hidden = true;
  $("thumbs").replaceChildren();
  if (resultUrl) URL.revokeObjectURL(resultUrl);
  imageUrls.splice(0).forEach((u) => URL.revokeObjectURL(u));
  resultUrl = null;
}

function collect(path, op) {
  const chosen = [...$("files").files];
  if (!chosen.length) throw new Problem("No file chosen", "choose or drop the file(s) to work on");
  const files = {};
  const fields = {};
  const main = mainFiles(op);
  const many = main.find((n) => op.props[n].type === "array");
  const one = main.find((n) => op.props[n].type !== "array");
  if (chosen.length > 1 && !many) throw new Problem("Too many files", "this operation takes one file");
  files[chosen.length > 1 || !one ? many : one] = chosen;
  for (const input of $("option-fields").querySelectorAll("input")) {
    if (input.type === "file") { if (input.files.length) files[input.name] = [...input.files]; }
    else if (input.type === "checkbox") { if (input.checked) fields[input.name] = "true"; }
    else if (input.value.trim() !== "") fields[input.name] = input.value.trim();
  }
  if (path === FILL) fields.values = JSON.stringify(formValues());
  const total = Object.values(files).flat().reduce((n, f) => n + f.size, 0);
  // The form's own bytes come on top of the files: a margin for them.
  if (maxBody && total + 4096 > maxBody) {
    throw new Problem("Request body too large", `the files are ${total} bytes in all; this service takes at most ` +
      `${maxBody} bytes in one request (${size(maxBody)}), so nothing was sent`);
  }
  return { files, fields };
}

async function submit(event) {
  event.preventDefault();
  const path = $("operation").value;
  const op = operations[path];
  if (!op) return;
  clearResult();
  $("submit").disabled = true;
  try {
    const { files, fields } = collect(path, op);
    const result = await run(path, files, NAMES[path] || op.summary, fields);
    resultUrl = URL.createObjectURL(result.blob);
    const link = $("download");
    link.href = resultUrl;
    link.download = result.name;
    link.textContent = `Download ${result.name} (${size(result.blob.size)})`;
    $("download-row").hidden = false;
    if (/json|text\/plain/.test(result.type)) {
      $("result-text").textContent = await result.blob.text();
      $("result-text").hidden = false;
    }
    await showThumbnails(result);
    $("status").textContent = "Done.";
  } catch (p) {
    showProblem(p);
  } finally {
    $("submit").disabled = false;
    $("progress").hidden = true;
  }
}

function setUp() {
  const drop = $("drop");
  // A file dropped beside the zone would make the browser open it and leave the page.
  for (const name of ["dragover", "drop"]) window.addEventListener(name, (e) => e.preventDefault());
  for (const name of ["dragenter", "dragover"]) {
    drop.addEventListener(name, (e) => { e.preventDefault(); drop.classList.add("over"); });
  }
  drop.addEventListener("dragleave", () => drop.classList.remove("over"));
  drop.addEventListener("drop", (e) => {
    e.preventDefault();
    drop.classList.remove("over");
    $("files").files = e.dataTransfer.files;
    $("files").dispatchEvent(new Event("change"));
  });
  $("files").addEventListener("change", showFormFields);
  $("operation").addEventListener("change", showOptions);
  $("job").addEventListener("submit", submit);
  const useKey = () => {
    sessionStorage.setItem(KEY_STORE, $("key").value.trim());
    $("key").value = "";
    $("key-why").textContent = "The key is kept in this browser tab only, until you close it.";
    start();
  };
  $("key-use").addEventListener("click", useKey);
  $("key").addEventListener("keydown", (e) => { if (e.key === "Enter") { e.preventDefault(); useKey(); } });
  $("key-forget").addEventListener("click", () => { sessionStorage.removeItem(KEY_STORE); showKey(false); });
  start();
}

function start() {
  $("problem").hidden = true;
  loadOperations().catch(showProblem);
}

setUp();
