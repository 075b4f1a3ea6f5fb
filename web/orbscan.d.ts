// Type declarations for orbscan.js: the Dorvex scanning control on a web page, through the
// Dorvex host on the person's desk.

/** Why a call failed: the control's own error (with its number), or the connection. */
export type OrbScanErrorCode =
  | 'control'      // the control raised a numbered error (382, 387, the cipher's 9, ...)
  | 'busy'         // another Dorvex window is open on this desk
  | 'refused'      // the person did not allow this site
  | 'unreachable'  // no host answers, or this site is not listed
  | 'disconnected' // the host closed the connection
  | 'protocol'     // the host refused a message that breaks its rules
  | 'limit'        // too many documents for one page
  | 'failed'       // anything else inside the host
  | 'argument';    // a property the control does not have

export declare class OrbScanError extends Error {
  readonly name: 'OrbScanError';
  readonly code: OrbScanErrorCode;
  /** The control's error number, 0 when the failure is not the control's. */
  readonly number: number;
}

/** The control's property bag: keys as the control keeps them ("SessionID" or "SessionId"). */
export interface OrbScanOptions {
  /** Where the host is, e.g. "http://127.0.0.1:47615" (default: where orbscan.js came from). */
  host?: string;
  EncServerURL?: string;
  SessionID?: string;
  SessionId?: string;
  EncOperator?: string;
  EncBatchNo?: string;
  EncInno?: string;
  UploadReport?: string;
  OnlyScanList?: boolean;
  EncDVDPrefix?: string;
  LastTmpFile?: string;
  EnableOverWrite?: boolean;
  EnablePageUpdater?: boolean;
  Proxy?: string;
  EnableTopMost?: boolean;
  SessionIdName?: string;
  EnableOCR?: boolean;
  ScanListVisible?: boolean;
}

export interface AfterUploadDetail {
  asComment: string;
  ErrCode: number;
  ErrDescription: string;
}

export interface DebugMessageDetail {
  szMsg: string;
}

export interface HostStatus {
  running: boolean;
  version?: string;
  /** A sentence for the person: where the host is, or how to install, start and allow it. */
  message: string;
}

export interface OrbScanEventMap {
  AfterUpload: CustomEvent<AfterUploadDetail>;
  DebugMessage: CustomEvent<DebugMessageDetail>;
  error: CustomEvent<OrbScanError>;
}

export declare class OrbScan extends EventTarget {
  /** Without any property in `options` the control starts with its defaults (InitProperties);
   *  with some, missing ones take their defaults (ReadProperties). Throws OrbScanError (code
   *  "argument", number 5) for a property the control does not have. */
  constructor(options?: OrbScanOptions);

  /** Resolves once the person has allowed this site and the host has loaded the properties. */
  readonly ready: Promise<void>;

  static isHostRunning(host?: string): Promise<HostStatus>;
  close(): void;

  EncServerURL: string;
  SessionId: string;
  EncOperator: string;
  EncBatchNo: string;
  EncInno: string;
  /** Read-only: setting it throws OrbScanError number 382. */
  UploadReport: string;
  OnlyScanList: boolean;
  EncDVDPrefix: string;
  /** Read-only: setting it throws OrbScanError number 382. */
  LastTmpFile: string;
  EnableOverWrite: boolean;
  EnablePageUpdater: boolean;
  Proxy: string;
  EnableTopMost: boolean;
  SessionIdName: string;
  EnableOCR: boolean;
  ScanListVisible: boolean;

  /** Each resolves when its window has closed. */
  AddInno(NewInno: string, TotalPage: number, bMultiPage: boolean, BatchNo: string): Promise<void>;
  ShowMultiTwain(NewDVDPrefix: string): Promise<void>;
  ShowMultiTwainA(): Promise<void>;
  ShowMultiEdit(NewDVDPrefix: string): Promise<void>;
  ShowSingleTwain(): Promise<void>;
  ShowSingleTwainA(): Promise<void>;
  ShowSingleTwainB(): Promise<void>;
  ShowSimpleEdit(): Promise<void>;
  UploadDir(szDVDPrefix: string): Promise<void>;
  UploadFileWithInno(szInno: string): Promise<void>;

  onAfterUpload: ((asComment: string, ErrCode: number, ErrDescription: string) => void) | null;
  onDebugMessage: ((szMsg: string) => void) | null;

  addEventListener<K extends keyof OrbScanEventMap>(type: K, listener: (event: OrbScanEventMap[K]) => void,
    options?: boolean | AddEventListenerOptions): void;
  addEventListener(type: string, listener: EventListenerOrEventListenerObject | null,
    options?: boolean | AddEventListenerOptions): void;
  removeEventListener<K extends keyof OrbScanEventMap>(type: K, listener: (event: OrbScanEventMap[K]) => void,
    options?: boolean | EventListenerOptions): void;
  removeEventListener(type: string, listener: EventListenerOrEventListenerObject | null,
    options?: boolean | EventListenerOptions): void;
}

declare global {
  interface Window {
    OrbScan: typeof OrbScan;
    OrbScanError: typeof OrbScanError;
  }
}
