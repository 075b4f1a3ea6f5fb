// orbscan.js: the Dorvex scanning control for web pages. The control runs in the Dorvex host
// on the person's desk (`dorvex host`); this script speaks to it over a WebSocket on
// 127.0.0.1. Plain JavaScript, no build step: load it from the host
//   <script src="http://127.0.0.1:47615/orbscan.js"></script>
// or serve a copy with the page. See docs/host.md.
(function (global) {
  'use strict';

  const DEFAULT_HOST = 'http://127.0.0.1:47615';
  // The sixteen properties: the page's name, the key a property bag keeps it under, its default.
  const PROPERTIES = [
    ['EncServerURL', 'EncServerURL', ''], ['SessionId', 'SessionID', ''], ['EncOperator', 'EncOperator', ''],
    ['EncBatchNo', 'EncBatchNo', ''], ['EncInno', 'EncInno', ''], ['UploadReport', 'UploadReport', ''],
    ['OnlyScanList', 'OnlyScanList', true], ['EncDVDPrefix', 'EncDVDPrefix', ''], ['LastTmpFile', 'LastTmpFile', ''],
    ['EnableOverWrite', 'EnableOverWrite', true], ['EnablePageUpdater', 'EnablePageUpdater', false],
    ['Proxy', 'Proxy', ''], ['EnableTopMost', 'EnableTopMost', false], ['SessionIdName', 'SessionIdName', ''],
    ['EnableOCR', 'EnableOCR', false], ['ScanListVisible', 'ScanListVisible', true],
  ];
  const READ_ONLY = new Set(['UploadReport', 'LastTmpFile']);
  const NOT_SET_AT_RUN_TIME = 382;
  const INSTALL_TEXT =
    'Install Dorvex on this computer (./build.sh build && sudo cmake --install build), start the host ' +
    '(`dorvex host`, or `systemctl --user enable --now dorvex-host` to start it at login) and allow this site: ' +
    '`dorvex host allow ' + (global.location ? global.location.origin : 'ORIGIN') + '`.';

  // The script's own address names the host it came from.
  const scriptHost = (() => {
    try {
      const src = global.document && global.document.currentScript && global.document.currentScript.src;
      return src ? new URL(src).origin : null;
    } catch (e) {
      return null;
    }
  })();

  class OrbScanError extends Error {
    constructor(message, code, number) {
      super(message);
      this.name = 'OrbScanError';
      this.code = code;      // "control", "busy", "refused", "unreachable", "disconnected", "protocol", ...
      this.number = number;  // the control's error number (382, 387, 9, ...), or 0
    }
  }

  function hostBase(host) {
    const text = host || scriptHost || DEFAULT_HOST;
    const url = new URL(text);
    return url.origin;
  }

  class OrbScan extends EventTarget {
    // `options` is the control's property bag: any of the sixteen properties by key
    // ("SessionID" or "SessionId"), read as ReadProperties does (missing keys take their
    // defaults); without any, the control starts as InitProperties leaves it. `options.host`
    // names the host (default: where this script came from, else http://127.0.0.1:47615).
    constructor(options) {
      super();
      options = options || {};
      this.onAfterUpload = null;
      this.onDebugMessage = null;
      this._host = hostBase(options.host);
      this._values = {};
      this._pending = new Map();
      this._nextId = 1;
      this._opened = false;
      let bag = null;
      for (const [name, key, fallback] of PROPERTIES) {
        this._values[name] = fallback;
        for (const given of [key, name]) {
          if (Object.prototype.hasOwnProperty.call(options, given)) {
            bag = bag || {};
            bag[key] = options[given];
          }
        }
      }
      for (const given of Object.keys(options)) {
        if (given !== 'host' && !PROPERTIES.some(([name, key]) => given === name || given === key)) {
          throw new OrbScanError('The control has no property "' + given + '".', 'argument', 5);
        }
      }
      this._socket = new WebSocket(this._host.replace(/^http/, 'ws') + '/');
      this.ready = new Promise((resolve, reject) => {
        this._readyResolve = resolve;
        this._readyReject = reject;
      });
      this.ready.catch(() => {});  // reported through each call as well
      this._socket.onmessage = (event) => this._received(event.data, bag);
      this._socket.onopen = () => { this._opened = true; };
      this._socket.onclose = (event) => this._closed(event);
    }

    // Whether the host answers on this desk: {running, version} or {running: false, message}.
    static async isHostRunning(host) {
      const base = hostBase(host);
      const abort = new AbortController();
      const timer = setTimeout(() => abort.abort(), 3000);
      try {
        const reply = await fetch(base + '/health', { cache: 'no-store', signal: abort.signal });
        if (!reply.ok) throw new Error(String(reply.status));
        const health = await reply.json();
        return { running: true, version: health.version, message: 'The Dorvex host is running at ' + base + '.' };
      } catch (e) {
        return {
          running: false,
          message: 'The Dorvex host does not answer at ' + base + ' for this site: it is not running, or this ' +
            'site is not allowed to use it. ' + INSTALL_TEXT,
        };
      } finally {
        clearTimeout(timer);
      }
    }

    close() {
      this._socket.close();
    }

    AddInno(NewInno, TotalPage, bMultiPage, BatchNo) {
      return this._call('AddInno', [String(NewInno), Math.trunc(Number(TotalPage)), Boolean(bMultiPage), String(BatchNo)]);
    }
    ShowMultiTwain(NewDVDPrefix) { return this._call('ShowMultiTwain', [String(NewDVDPrefix ?? '')]); }
    ShowMultiTwainA() { return this._call('ShowMultiTwainA', []); }
    ShowMultiEdit(NewDVDPrefix) { return this._call('ShowMultiEdit', [String(NewDVDPrefix ?? '')]); }
    ShowSingleTwain() { return this._call('ShowSingleTwain', []); }
    ShowSingleTwainA() { return this._call('ShowSingleTwainA', []); }
    ShowSingleTwainB() { return this._call('ShowSingleTwainB', []); }
    ShowSimpleEdit() { return this._call('ShowSimpleEdit', []); }
    UploadDir(szDVDPrefix) { return this._call('UploadDir', [String(szDVDPrefix ?? '')]); }
    UploadFileWithInno(szInno) { return this._call('UploadFileWithInno', [String(szInno ?? '')]); }

    _send(message) {
      if (this._socket.readyState === WebSocket.OPEN) this._socket.send(JSON.stringify(message));
    }

    async _call(method, args) {
      await this.ready;
      return new Promise((resolve, reject) => {
        const id = this._nextId++;
        this._pending.set(id, { resolve, reject });
        this._send({ type: 'call', id, method, args });
      });
    }

    _set(name, key, value) {
      if (READ_ONLY.has(name)) {
        throw new OrbScanError('Property cannot be set at run time', 'control', NOT_SET_AT_RUN_TIME);
      }
      this._values[name] = value;
      this.ready.then(() => {
        const id = this._nextId++;
        this._pending.set(id, {
          resolve: () => {},
          reject: (error) => this.dispatchEvent(new CustomEvent('error', { detail: error })),
        });
        this._send({ type: 'set', id, name: key, value });
      }, () => {});
    }

    _update(properties) {
      for (const [name, key] of PROPERTIES) {
        if (Object.prototype.hasOwnProperty.call(properties || {}, key)) this._values[name] = properties[key];
      }
    }

    _received(text, bag) {
      let message;
      try {
        message = JSON.parse(text);
      } catch (e) {
        return;
      }
      switch (message.type) {
        case 'welcome':
          this._send({ type: 'load', bag });
          break;
        case 'ready':
          this._update(message.properties);
          this._readyResolve();
          break;
        case 'refused':
          this._readyReject(new OrbScanError(message.message, 'refused', 0));
          break;
        case 'result': {
          this._update(message.properties);
          const call = this._pending.get(message.id);
          this._pending.delete(message.id);
          if (call) call.resolve();
          break;
        }
        case 'error': {
          const error = new OrbScanError(message.message, message.code, message.number || 0);
          const call = this._pending.get(message.id);
          this._pending.delete(message.id);
          if (call) call.reject(error);
          else this._readyReject(error);
          break;
        }
        case 'event':
          this._event(message.name, Array.isArray(message.args) ? message.args : []);
          break;
      }
    }

    _event(name, args) {
      let detail;
      if (name === 'AfterUpload') detail = { asComment: args[0], ErrCode: args[1], ErrDescription: args[2] };
      else if (name === 'DebugMessage') detail = { szMsg: args[0] };
      else return;
      this.dispatchEvent(new CustomEvent(name, { detail }));
      const handler = this['on' + name];
      if (typeof handler === 'function') handler.apply(this, args);
    }

    _closed(event) {
      // A handshake the host refused looks the same as no host at all, on purpose.
      const error = this._opened
        ? new OrbScanError('The Dorvex host closed the connection' + (event.reason ? ': ' + event.reason : '') + '.',
          'disconnected', 0)
        : new OrbScanError('Cannot reach the Dorvex host at ' + this._host + ': it is not running, or this site is ' +
          'not allowed to use it. ' + INSTALL_TEXT, 'unreachable', 0);
      this._readyReject(error);
      for (const call of this._pending.values()) call.reject(error);
      this._pending.clear();
    }
  }

  for (const [name, key] of PROPERTIES) {
    Object.defineProperty(OrbScan.prototype, name, {
      get() { return this._values[name]; },
      set(value) { this._set(name, key, typeof this._values[name] === 'boolean' ? Boolean(value) : String(value)); },
      enumerable: true,
    });
  }

  OrbScan.OrbScanError = OrbScanError;
  global.OrbScan = OrbScan;
  global.OrbScanError = OrbScanError;
})(typeof window !== 'undefined' ? window : globalThis);
