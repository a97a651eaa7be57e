#pragma once
// The script half of the bridge, run in each top document's main world before any page
// script. It is called once with the extension's native entry point and four private
// marker objects, keeps them in its closure (page script never sees them), and returns
// the functions the extension uses:
//   [make, classify, forget, setPath, get, put, call, has, units, fromUnits, run, fire, date]
//
// Native entry point: nat(op, handle, name, ...values)
//   op 1 get, 2 put, 3 call (name "" calls DISPID 0), 4 has, 5 script error, 6 a call of
//   the page's window functions that belong to the host (close, resizeTo, resizeBy,
//   moveTo, moveBy; name and two arguments);
//   for elements that host native objects (the handle is the element's number):
//   7 connected (name: the classid; returns [members, events] or FAIL), 8 member (name,
//   action 0 get / 1 put / 2 call, ...arguments), 9 box (x, y, width, height, visible, and
//   the clip: x, y, width, height), 10 gone.
//   The name is a string, or the Uint16Array of its code units when it is not well formed
//   (a lone surrogate cannot be read through the engine's UTF-8 interface).
//   It returns the value, or FAIL (whose n and d hold the HRESULT and text), or for a
//   get METHOD (the member is a method) or UNKNOWN (no such member).
//
// units(s): undefined when s is well formed, else the Uint16Array of its code units;
// fromUnits(a): the string of the code units in Uint16Array a; run(code): evaluates code
// as global code (for code the engine's UTF-8 interface cannot carry).
// classify(o) gives DATE (whose t holds the time) for a Date; date(t) makes a Date;
// fire(element, name, args) raises event `name` on the element with args' properties.
//
// Elements: an <object> whose classid is the player control's is bound when it is in the
// document: right after the DOM call that inserted it or set its classid, or when the
// mutation observer sees it (markup). Binding asks native code for the object and defines
// its members on the element; leaving the document (or losing the classid) unbinds it. The
// rectangles of bound elements are measured at the next animation frame after anything
// that can move them (scrolling, resizing, a change to the document, a load, the end of a
// transition or animation) and every quarter second, and reported when they change.

namespace norv::web::bridge {

inline constexpr const char* bridgeScript = R"JS((function (nat, FAIL, METHOD, UNKNOWN, DATE) {
"use strict";
const uncurry = (f) => Function.prototype.call.bind(f);
const wmGet = uncurry(WeakMap.prototype.get);
const wmSet = uncurry(WeakMap.prototype.set);
const mapGet = uncurry(Map.prototype.get);
const mapSet = uncurry(Map.prototype.set);
const mapDelete = uncurry(Map.prototype.delete);
const reflectGet = Reflect.get, reflectSet = Reflect.set, reflectHas = Reflect.has;
const reflectApply = Reflect.apply;
const ErrorCtor = Error, ProxyCtor = Proxy, MapCtor = Map, WeakMapCtor = WeakMap;
const Uint16ArrayCtor = Uint16Array;
const isWellFormed = uncurry(String.prototype.isWellFormed);
const charCodeAt = uncurry(String.prototype.charCodeAt);
const fromCharCode = String.fromCharCode;
const subarray = uncurry(Object.getPrototypeOf(Uint16Array.prototype).subarray);
const globalEval = eval;
const DateCtor = Date, dateTime = uncurry(Date.prototype.getTime);
const objectToString = uncurry(Object.prototype.toString);
const ErrorEventCtor = ErrorEvent, later = setTimeout;
const E_FAIL = -2147467259, E_INVALIDARG = -2147024809;
const DISP_E_MEMBERNOTFOUND = -2147352573, DISP_E_TYPEMISMATCH = -2147352571;
const DISP_E_EXCEPTION = -2147352567;

const handles = new WeakMapCtor();   // proxy -> native handle
const ids = new MapCtor();           // script object held by native code -> id
let lastId = 0;

function thrown() {
    const e = new ErrorCtor(FAIL.d);
    e.number = FAIL.n;
    e.description = FAIL.d;
    return e;
}
function failWith(e) {
    let n = E_FAIL, d = "";
    try {
        if (e !== null && (typeof e === "object" || typeof e === "function")) {
            if (typeof e.number === "number" && e.number < 0 && e.number >= -2147483648)
                n = e.number | 0;
            d = typeof e.description === "string" ? e.description : String(e.message);
        } else {
            d = String(e);
        }
    } catch (x) {
    }
    FAIL.n = n;
    FAIL.d = d;
    return FAIL;
}
function units(s) {
    if (isWellFormed(s))
        return undefined;
    const a = new Uint16ArrayCtor(s.length);
    for (let i = 0; i < s.length; ++i)
        a[i] = charCodeAt(s, i);
    return a;
}
function fromUnits(a) {
    let s = "";
    for (let i = 0; i < a.length; i += 8192)
        s += reflectApply(fromCharCode, undefined, subarray(a, i, i + 8192));
    return s;
}
function run(code) {
    try { return globalEval(code); } catch (e) { return failWith(e); }
}
function key(k) {
    return isWellFormed(k) ? k : units(k);
}
// `p`, the proxy, is only kept alive: a method read from a proxy keeps it.
function callMember(h, k, args, p) {
    const v = nat(3, h, key(k), ...args);
    if (v === FAIL)
        throw thrown();
    return v;
}
function make(h) {
    const methods = new MapCtor();
    const p = new ProxyCtor({}, {
        get(t, k, r) {
            if (typeof k !== "string")
                return reflectGet(t, k, r);
            const m = mapGet(methods, k);
            if (m !== undefined)
                return m;
            const v = nat(1, h, key(k));
            if (v === METHOD) {
                const f = function () { return callMember(h, k, arguments, p); };
                mapSet(methods, k, f);
                return f;
            }
            if (v === UNKNOWN)
                return reflectGet(t, k, r);
            if (v === FAIL)
                throw thrown();
            return v;
        },
        set(t, k, v, r) {
            if (typeof k !== "string")
                return reflectSet(t, k, v, r);
            if (nat(2, h, key(k), v) === FAIL)
                throw thrown();
            return true;
        },
        has(t, k) {
            if (typeof k !== "string")
                return reflectHas(t, k);
            const v = nat(4, h, key(k));
            if (v === FAIL)
                throw thrown();
            return v === true || reflectHas(t, k);
        },
        defineProperty() { return false; },
        deleteProperty() { return false; },
    });
    wmSet(handles, p, h);
    return p;
}
function classify(o) {
    const h = wmGet(handles, o);
    if (h !== undefined)
        return h;
    if (objectToString(o) === "[object Date]") {
        try {
            DATE.t = dateTime(o);
            return DATE;
        } catch (e) {
        }
    }
    let id = mapGet(ids, o);
    if (id === undefined) {
        id = ++lastId;
        mapSet(ids, o, id);
    }
    return -id;
}
function forget(o) {
    mapDelete(ids, o);
}
function setPath(path, v) {
    try {
        const parts = String(path).split(".").filter((s) => s.length > 0);
        if (parts.length === 0)
            return E_INVALIDARG;
        let cur = globalThis;
        for (let i = 0; i < parts.length - 1; ++i) {
            const k = parts[i];
            let next;
            if (k in cur) {
                next = cur[k];
                if (next === null || (typeof next !== "object" && typeof next !== "function"))
                    return DISP_E_TYPEMISMATCH;
            } else {
                next = {};
                cur[k] = next;
            }
            cur = next;
        }
        cur[parts[parts.length - 1]] = v;
        if (parts.length >= 3 && parts[0] === "window")
            remember(parts[1], parts.join("."), v);
        return 0;
    } catch (e) {
        failWith(e);
        return DISP_E_EXCEPTION;
    }
}
// A page that puts its own object in place of one the bridge filled (window.tavi = {...})
// keeps it and gets the bridge's values set on it: the bridge remembers what it set
// below each window property and sets it again on a replacement.
const remembered = new MapCtor(); // window property -> Map(path -> value)
const defineProperty = Object.defineProperty;
function remember(name, path, v) {
    let paths = mapGet(remembered, name);
    if (paths === undefined) {
        paths = new MapCtor();
        mapSet(remembered, name, paths);
        let current = globalThis[name];
        try {
            defineProperty(globalThis, name, {
                configurable: true,
                enumerable: true,
                get() { return current; },
                set(replacement) {
                    current = replacement;
                    if (replacement !== null &&
                        (typeof replacement === "object" || typeof replacement === "function")) {
                        for (const [p, value] of paths)
                            setPath(p, value);
                    }
                },
            });
        } catch (e) {
        }
    }
    mapSet(paths, path, v);
}
function get(o, k) {
    try { return o[k]; } catch (e) { return failWith(e); }
}
function put(o, k, v) {
    try { o[k] = v; return undefined; } catch (e) { return failWith(e); }
}
function call(o, k, getToo, ...args) {
    try {
        if (k === "")
            return reflectApply(o, undefined, args);
        const f = o[k];
        if (typeof f === "function")
            return reflectApply(f, o, args);
        if (getToo && args.length === 0)
            return f;
        FAIL.n = DISP_E_MEMBERNOTFOUND;
        FAIL.d = "";
        return FAIL;
    } catch (e) {
        return failWith(e);
    }
}
function has(o, k) {
    try { return k in o; } catch (e) { return failWith(e); }
}
globalThis.addEventListener("error", function (e) {
    if (!(e instanceof ErrorEventCtor))
        return;
    const url = String(e.filename || ""), message = String(e.message || "");
    const line = e.lineno | 0, column = e.colno | 0;
    // Report once every handler of the page had its chance to prevent it (microtasks
    // would run between the listeners).
    later(function () {
        if (!e.defaultPrevented)
            nat(5, 0, "", url, message, line, 0, column);
    }, 0);
});
// Closing, moving and sizing the page's own window are the host's: the engine would refuse
// window.close() to a page with history, and size the window against the host's rules.
function windowCall(name) {
    return function (x, y) {
        if (nat(6, 0, name, x, y) === FAIL)
            throw thrown();
    };
}
for (const name of ["close", "resizeTo", "resizeBy", "moveTo", "moveBy"]) {
    try {
        defineProperty(globalThis, name,
                       {configurable: true, enumerable: true, writable: true,
                        value: windowCall(name)});
    } catch (e) {
    }
}
// ---- Elements that host native objects --------------------------------------------
const PLAYER = /^[ \t\n\r\f]*clsid:(?:\{6BF52A52-394A-11D3-B153-00C04F79FAA6\}|6BF52A52-394A-11D3-B153-00C04F79FAA6)[ \t\n\r\f]*$/i;
const regexTest = uncurry(RegExp.prototype.test);
const getOwn = Object.getOwnPropertyDescriptor, objectKeys = Object.keys;
const isArray = Array.isArray, deleteProperty = Reflect.deleteProperty;
const getAttr = uncurry(Element.prototype.getAttribute);
const setAttr = uncurry(Element.prototype.setAttribute);
const isConnected = uncurry(getOwn(Node.prototype, "isConnected").get);
const ownerOf = uncurry(getOwn(Node.prototype, "ownerDocument").get);
const clientRects = uncurry(Element.prototype.getClientRects);
const boundingRect = uncurry(Element.prototype.getBoundingClientRect);
const parentElementOf = uncurry(getOwn(Node.prototype, "parentElement").get);
const documentElementOf = uncurry(getOwn(Document.prototype, "documentElement").get);
const bodyOf = uncurry(getOwn(Document.prototype, "body").get);
const clientLeftOf = uncurry(getOwn(Element.prototype, "clientLeft").get);
const clientTopOf = uncurry(getOwn(Element.prototype, "clientTop").get);
const clientWidthOf = uncurry(getOwn(Element.prototype, "clientWidth").get);
const clientHeightOf = uncurry(getOwn(Element.prototype, "clientHeight").get);
const rectsLength = uncurry(getOwn(DOMRectList.prototype, "length").get);
const rectLeft = uncurry(getOwn(DOMRectReadOnly.prototype, "left").get);
const rectTop = uncurry(getOwn(DOMRectReadOnly.prototype, "top").get);
const rectWidth = uncurry(getOwn(DOMRectReadOnly.prototype, "width").get);
const rectHeight = uncurry(getOwn(DOMRectReadOnly.prototype, "height").get);
const styleOf = getComputedStyle;
const styleValue = uncurry(CSSStyleDeclaration.prototype.getPropertyValue);
const listen = uncurry(EventTarget.prototype.addEventListener);
const unlisten = uncurry(EventTarget.prototype.removeEventListener);
const dispatch = uncurry(EventTarget.prototype.dispatchEvent);
const EventCtor = Event, ObjectElement = HTMLObjectElement;
const MutationObserverCtor = MutationObserver, observe = uncurry(MutationObserver.prototype.observe);
const byTag = uncurry(Document.prototype.getElementsByTagName);
const byTagIn = uncurry(Element.prototype.getElementsByTagName);
const collectionLength = uncurry(getOwn(HTMLCollection.prototype, "length").get);
const collectionItem = uncurry(HTMLCollection.prototype.item);
const frameLater = requestAnimationFrame, every = setInterval, stopEvery = clearInterval;
const unobserve = uncurry(MutationObserver.prototype.disconnect);
const doc = document, win = globalThis;

const elements = new MapCtor();     // number -> record, while bound
const records = new WeakMapCtor();  // element -> record (bound, or failed to bind)
let bound = [];                     // the bound records, in binding order
let failed = [];                    // records of elements that could not be bound
let lastElement = 0, objects = null, framePending = false, poll = 0;
// Any change to the document may move a bound element: watched only while there is one.
const relayout = new MutationObserverCtor(function () { schedule(); });

// In this document (an element of another document, a detached one say, is not).
function connectedOf(el) {
    return isConnected(el) && ownerOf(el) === doc;
}
function isPlayer(el) {
    const c = getAttr(el, "classid");
    return c !== null && regexTest(PLAYER, c);
}
function member(id, name, action, args) {
    const v = nat(8, id, key(name), action, ...args);
    if (v === FAIL)
        throw thrown();
    return v;
}
function define(rec, name, shape) {
    const id = rec.id;
    const d = shape === 1 ? {
        configurable: true, enumerable: true,
        get() { return member(id, name, 0, []); },
        set(v) { member(id, name, 1, [v]); },
    } : {
        configurable: true, enumerable: true, writable: true,
        value: function () { return member(id, name, 2, arguments); },
    };
    try {
        defineProperty(rec.el, name, d);
        rec.names[rec.names.length] = name;
    } catch (e) {
    }
}
function bind(el) {
    const rec = { el: el, id: ++lastElement, names: [], listeners: [], box: null, failed: false };
    wmSet(records, el, rec);
    mapSet(elements, rec.id, rec); // events may come while the object is made
    const r = nat(7, rec.id, key(String(getAttr(el, "classid"))));
    if (wmGet(records, el) !== rec)
        return; // unbound meanwhile
    if (r === FAIL || !isArray(r) || r.length !== 2) {
        mapDelete(elements, rec.id);
        rec.failed = true;
        failed[failed.length] = rec;
        return;
    }
    bound[bound.length] = rec;
    const members = r[0], events = r[1];
    const names = objectKeys(members);
    for (let i = 0; i < names.length; ++i)
        define(rec, names[i], members[names[i]]);
    for (let i = 0; i < events.length; ++i) {
        const name = events[i];
        // The handler property ("on" + the event's name) comes first.
        const f = function (e) {
            const handler = el["on" + name];
            if (typeof handler === "function")
                reflectApply(handler, el, [e]);
        };
        listen(el, name, f);
        rec.listeners[rec.listeners.length] = [name, f];
    }
    watch();
    later(schedule, 0);
}
function without(list, rec) {
    const out = [];
    for (let i = 0; i < list.length; ++i) {
        if (list[i] !== rec)
            out[out.length] = list[i];
    }
    return out;
}
function unbind(rec) {
    const el = rec.el;
    if (wmGet(records, el) === rec)
        wmSet(records, el, undefined);
    if (rec.failed) {
        failed = without(failed, rec);
        return;
    }
    mapDelete(elements, rec.id);
    bound = without(bound, rec);
    for (let i = 0; i < rec.names.length; ++i) {
        try { deleteProperty(el, rec.names[i]); } catch (e) {}
    }
    for (let i = 0; i < rec.listeners.length; ++i)
        unlisten(el, rec.listeners[i][0], rec.listeners[i][1]);
    nat(10, rec.id, "");
    if (bound.length === 0 && poll !== 0) {
        stopEvery(poll);
        poll = 0;
        unobserve(relayout);
    }
}
function check(el) {
    const rec = wmGet(records, el);
    const wanted = connectedOf(el) && isPlayer(el);
    if (rec !== undefined && !wanted)
        unbind(rec);
    else if (rec === undefined && wanted)
        bind(el);
}
// Binds the player elements in the document that are not bound yet.
function sweep() {
    if (objects === null)
        objects = byTag(doc, "object");
    const n = collectionLength(objects);
    for (let i = 0; i < n; ++i) {
        const el = collectionItem(objects, i);
        if (el !== null && wmGet(records, el) === undefined && isPlayer(el))
            bind(el);
    }
}
// Unbinds the elements that left the document or lost their classid.
function prune() {
    const all = bound.concat(failed);
    for (let i = 0; i < all.length; ++i) {
        const el = all[i].el;
        if (!connectedOf(el) || !isPlayer(el))
            unbind(all[i]);
    }
}
function measure(rec) {
    const el = rec.el;
    let x = 0, y = 0, w = 0, h = 0, visible = false;
    // The clip: the viewport, narrowed to the inside (padding box) of every ancestor below
    // the root and the body whose overflow is not visible.
    let cl = 0, ct = 0, cr = 0, cb = 0;
    if (connectedOf(el)) {
        const b = boundingRect(el);
        x = rectLeft(b); y = rectTop(b); w = rectWidth(b); h = rectHeight(b);
        visible = rectsLength(clientRects(el)) > 0 &&
            styleValue(styleOf(el), "visibility") !== "hidden";
        const doc = ownerOf(el), root = documentElementOf(doc), body = bodyOf(doc);
        cr = clientWidthOf(root); cb = clientHeightOf(root);
        for (let p = parentElementOf(el); p !== null && p !== root && p !== body;
             p = parentElementOf(p)) {
            const s = styleOf(p);
            if (styleValue(s, "overflow-x") === "visible" &&
                styleValue(s, "overflow-y") === "visible")
                continue;
            const r = boundingRect(p);
            const left = rectLeft(r) + clientLeftOf(p), top = rectTop(r) + clientTopOf(p);
            if (left > cl) cl = left;
            if (top > ct) ct = top;
            if (left + clientWidthOf(p) < cr) cr = left + clientWidthOf(p);
            if (top + clientHeightOf(p) < cb) cb = top + clientHeightOf(p);
        }
        if (cr < cl) cr = cl;
        if (cb < ct) cb = ct;
    }
    const o = rec.box;
    if (o !== null && o.x === x && o.y === y && o.w === w && o.h === h && o.visible === visible &&
        o.cl === cl && o.ct === ct && o.cr === cr && o.cb === cb)
        return;
    rec.box = { x: x, y: y, w: w, h: h, visible: visible, cl: cl, ct: ct, cr: cr, cb: cb };
    nat(9, rec.id, "", x, y, w, h, visible, cl, ct, cr - cl, cb - ct);
}
function measureAll() {
    const list = bound;
    for (let i = 0; i < list.length; ++i) {
        if (wmGet(records, list[i].el) === list[i])
            measure(list[i]);
    }
}
function frame() {
    framePending = false;
    measureAll();
}
function schedule() {
    if (framePending || bound.length === 0)
        return;
    framePending = true;
    frameLater(frame);
}
function watch() {
    if (poll !== 0)
        return;
    poll = every(measureAll, 250);
    observe(relayout, doc, { childList: true, subtree: true, attributes: true,
                             characterData: true });
}
function fire(id, name, args) {
    const rec = mapGet(elements, id);
    if (rec === undefined)
        return;
    const e = new EventCtor(name);
    const names = objectKeys(args);
    for (let i = 0; i < names.length; ++i)
        defineProperty(e, names[i], { value: args[names[i]], enumerable: true, configurable: true });
    dispatch(rec.el, e);
}
function date(t) {
    return new DateCtor(t);
}

// Every DOM call that can put an element into the document, or give it a classid, looks
// for new player elements before it returns.
function afterCall(proto, name, what) {
    const d = getOwn(proto, name);
    if (d === undefined || typeof d.value !== "function")
        return;
    const original = d.value;
    const wrapped = { [name]: function () {
        const r = reflectApply(original, this, arguments);
        what(this);
        return r;
    } }[name];
    defineProperty(proto, name, { value: wrapped, writable: d.writable,
                                  enumerable: d.enumerable, configurable: d.configurable });
}
function afterSet(proto, name, what) {
    const d = getOwn(proto, name);
    if (d === undefined || typeof d.set !== "function")
        return;
    const original = d.set;
    defineProperty(proto, name, {
        get: d.get,
        set: function (v) {
            reflectApply(original, this, [v]);
            what(this);
        },
        enumerable: d.enumerable, configurable: d.configurable,
    });
}
function inserted() {
    if (objects === null || collectionLength(objects) > 0)
        sweep();
}
function attributeSet(el) {
    if (el instanceof ObjectElement)
        check(el);
}
try {
    for (const name of ["appendChild", "insertBefore", "replaceChild"])
        afterCall(Node.prototype, name, inserted);
    for (const name of ["append", "prepend", "before", "after", "replaceWith",
                        "insertAdjacentElement", "insertAdjacentHTML"])
        afterCall(Element.prototype, name, inserted);
    for (const name of ["append", "prepend"]) {
        afterCall(Document.prototype, name, inserted);
        afterCall(DocumentFragment.prototype, name, inserted);
    }
    for (const name of ["before", "after", "replaceWith"])
        afterCall(CharacterData.prototype, name, inserted);
    for (const name of ["innerHTML", "outerHTML"]) {
        afterSet(Element.prototype, name, inserted);
        afterSet(HTMLElement.prototype, name, inserted);
    }
    for (const name of ["setAttribute", "setAttributeNS", "removeAttribute", "toggleAttribute"])
        afterCall(Element.prototype, name, attributeSet);
    if (getOwn(ObjectElement.prototype, "classid") === undefined) {
        defineProperty(ObjectElement.prototype, "classid", {
            configurable: true, enumerable: true,
            get() { const c = getAttr(this, "classid"); return c === null ? "" : c; },
            set(v) { setAttr(this, "classid", String(v)); attributeSet(this); },
        });
    } else {
        afterSet(ObjectElement.prototype, "classid", attributeSet);
    }
    observe(new MutationObserverCtor(function () {
        prune();
        sweep();
    }), doc, { childList: true, subtree: true, attributes: true, attributeFilter: ["classid"] });
    listen(doc, "scroll", schedule, { capture: true, passive: true });
    for (const name of ["load", "transitionend", "animationend"])
        listen(doc, name, schedule, { capture: true, passive: true });
    listen(win, "resize", schedule);
} catch (e) {
}
return [make, classify, forget, setPath, get, put, call, has, units, fromUnits, run, fire, date];
}))JS";

} // namespace norv::web::bridge
