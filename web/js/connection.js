// The page's one MQTT connection (MQTT 5 over websockets): its state, the account, the
// subscriptions the page wants, and reconnecting by itself.
//
// The password is kept in this object only, in memory, for reconnecting: never in
// storage, a cookie or the address.
import mqtt from 'mqtt';

// CONNACK codes that mean "this account may not connect" (MQTT 3.1.1: 4, 5; MQTT 5: 134,
// 135). The page asks for an account then rather than retrying.
const AUTH_CODES = new Set([4, 5, 134, 135]);

export class Connection {
  // url: ws://host:port; handlers: onState(state, detail), onMessage(topic, payload),
  // onAuthNeeded(reason), onConnect()
  constructor(url, handlers) {
    this.url = url;
    this.h = handlers;
    this.username = '';
    this.password = '';
    this.client = null;
    this.state = 'disconnected';
    this.wanted = new Map(); // topic filter -> QoS, what the page wants while connected
    this.pendingSub = new Set();
    this.pendingUnsub = new Set();
    this.flushTimer = 0;
    this.retryTimer = 0;
  }

  setState(state, detail = '') {
    this.state = state;
    this.h.onState(state, detail);
  }

  connect(username = this.username, password = this.password) {
    this.username = username;
    this.password = password;
    this.close();
    this.setState('connecting', `connecting to ${this.url}`);
    const options = {
      protocolVersion: 5,
      clean: true,
      keepalive: 15,
      connectTimeout: 8000,
      reconnectPeriod: 2000,
      resubscribe: false, // the page subscribes anew on every connect (below)
      clientId: 'varno-line-' + Math.random().toString(16).slice(2, 10),
    };
    if (username) {
      options.username = username;
      options.password = password;
    }
    const client = mqtt.connect(this.url, options);
    this.client = client;
    client.on('connect', () => {
      if (client !== this.client) return;
      this.setState('connected', `connected to ${this.url}`);
      this.pendingSub.clear();
      this.pendingUnsub.clear();
      this.subscribe([...this.wanted.keys()]);
      this.h.onConnect();
    });
    client.on('message', (topic, payload, packet) => {
      if (client === this.client) this.h.onMessage(topic, payload, packet);
    });
    client.on('reconnect', () => {
      if (client === this.client) this.setState('connecting', `reconnecting to ${this.url}`);
    });
    client.on('close', () => {
      if (client === this.client)
        this.setState('disconnected', `no connection to ${this.url}; retrying`);
    });
    client.on('error', (err) => {
      if (client !== this.client) return;
      const code = err && typeof err.code === 'number' ? err.code : null;
      if (code != null && AUTH_CODES.has(code)) {
        // Refused for the account: stop, and ask for one.
        this.close();
        this.setState('disconnected', 'the broker asks for an account');
        this.h.onAuthNeeded(username ? 'The broker refused this user name or password.' : 'The broker asks for an account.');
      } else if (code != null) {
        // Another refusal (server busy, unavailable): try again in a while.
        this.setState('disconnected', `refused by ${this.url}: ${err.message}; retrying`);
        clearTimeout(this.retryTimer);
        this.retryTimer = setTimeout(() => {
          if (client === this.client) client.reconnect();
        }, 3000);
      }
    });
  }

  close() {
    clearTimeout(this.retryTimer);
    clearTimeout(this.flushTimer);
    this.flushTimer = 0;
    if (this.client) {
      const c = this.client;
      this.client = null;
      c.removeAllListeners('message');
      c.end(true);
    }
  }

  logout() {
    this.password = '';
    this.username = '';
  }

  get connected() {
    return this.client != null && this.client.connected;
  }

  // The page's subscriptions, as a set of filters it wants; changes go out together a
  // moment later (one SUBSCRIBE and one UNSUBSCRIBE for many tiles).
  // Live records come at QoS 0 (the next one is a tenth of a second away; no
  // acknowledgement per record), the rest at QoS 1.
  want(filter, qos = 1) {
    if (this.wanted.has(filter)) return;
    this.wanted.set(filter, qos);
    if (!this.pendingUnsub.delete(filter)) this.pendingSub.add(filter);
    this.scheduleFlush();
  }

  unwant(filter) {
    if (!this.wanted.delete(filter)) return;
    if (!this.pendingSub.delete(filter)) this.pendingUnsub.add(filter);
    this.scheduleFlush();
  }

  scheduleFlush() {
    if (this.flushTimer) return;
    this.flushTimer = setTimeout(() => {
      this.flushTimer = 0;
      if (!this.connected) return; // a connect subscribes to all that is wanted
      const sub = [...this.pendingSub];
      const unsub = [...this.pendingUnsub];
      this.pendingSub.clear();
      this.pendingUnsub.clear();
      if (sub.length) this.subscribe(sub);
      if (unsub.length) this.client.unsubscribe(unsub);
    }, 50);
  }

  subscribe(filters) {
    const map = {};
    for (const f of filters) if (this.wanted.has(f)) map[f] = { qos: this.wanted.get(f) };
    if (Object.keys(map).length) this.client.subscribe(map);
  }

  // Publishes a command; done(error or null) once the broker took it (QoS 1: the
  // broker's PUBACK, which under MQTT 5 says when the account may not publish there).
  publish(topic, object, done) {
    if (!this.connected) {
      done(new Error('not connected to the broker'));
      return;
    }
    this.client.publish(topic, JSON.stringify(object), { qos: 1, retain: false }, (err) => done(err || null));
  }
}
