#pragma once
// The script half of the bridge, run in each top document's main world before any page
// script. It is called once with the extension's native entry point and three private
// marker objects, keeps them in its closure (page script never sees them), and returns
// the functions the extension uses:
//   [make, classify, forget, setPath, get, put, call, has, units, fromUnits, run]
//
// Native entry point: nat(op, handle, name, ...values)
//   op 1 get, 2 put, 3 call (name "" calls DISPID 0), 4 has, 5 script error, 6 a call of
//   the page's window functions that belong to the host (close, resizeTo, resizeBy,
//   moveTo, moveBy; name and two arguments).
//   The name is a string, or the Uint16Array of its code units when it is not well formed
//   (a lone surrogate cannot be read through the engine's UTF-8 interface).
//   It returns the value, or FAIL (whose n and d hold the HRESULT and text), or for a
//   get METHOD (the member is a method) or UNKNOWN (no such member).
//
// units(s): undefined when s is well formed, else the Uint16Array of its code units;
// fromUnits(a): the string of the code units in Uint16Array a; run(code): evaluates code
// as global code (for code the engine's UTF-8 interface cannot carry).

namespace norv::web::bridge {

inline constexpr const char* bridgeScript = R"JS((function (nat, FAIL, METHOD, UNKNOWN) {
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
return [make, classify, forget, setPath, get, put, call, has, units, fromUnits, run];
}))JS";

} // namespace norv::web::bridge
