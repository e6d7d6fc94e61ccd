// The settings pages. The application calls goToPage, indexLoading, init and
// executionLocationLoad with one JSON text each; the pages post their changes
// through window.webkit.messageHandlers.NAME.postMessage(body).
(function () {
  "use strict";

  // data: every page object's keys as last received; a later object (of any
  // page) updates its own keys and leaves the others. commands: the custom
  // commands as the application last sent them whole, or as the page itself
  // last stored them; the application sends no list for an empty table.
  var state = { page: 0, lang: 0, country: "", data: {}, commands: [], apps: [], lists: {}, strings: {}, addError: null };
  var LANGUAGE_FOLDERS = ["zh-Hans", "en", "id", "vi", "ko"];

  function post(name, body) {
    var handlers = window.webkit && window.webkit.messageHandlers;
    if (handlers && handlers[name]) handlers[name].postMessage(body);
  }

  function text(key) {
    var row = TEXTS[key];
    return row ? (row[state.lang] || row[1] || row[0]) : key;
  }

  function choice(row) {
    return row ? (row[state.lang] || row[1] || row[0]) : "";
  }

  function parse(json) {
    if (typeof json !== "string" || json === "") return null;
    try { return JSON.parse(json); } catch (e) { return null; }
  }

  // Property lists and string tables are read beside the pages.
  function readPlist(path) {
    try {
      var request = new XMLHttpRequest();
      request.open("GET", path, false);
      request.overrideMimeType("text/xml");
      request.send();
      var doc = new DOMParser().parseFromString(request.responseText, "text/xml");
      return plistValue(doc.querySelector("plist > *"));
    } catch (e) {
      return null;
    }
  }

  function plistValue(node) {
    if (!node) return null;
    switch (node.tagName) {
      case "array": return Array.prototype.map.call(node.children, plistValue);
      case "dict":
        var out = {};
        for (var i = 0; i + 1 < node.children.length; i += 2) out[node.children[i].textContent] = plistValue(node.children[i + 1]);
        return out;
      case "integer": return parseInt(node.textContent, 10);
      case "true": return true;
      case "false": return false;
      default: return node.textContent;
    }
  }

  function languageList(kind) {
    var mainland = state.country === "cn";
    var file = {
      typing: mainland ? "ASROfXunfei_cn" : "ASROfXunfei_haiwai",
      ocr: mainland ? "OcrLanguageXunfei" : "OcrLanguageMicrosoft",
      trans: mainland ? "TransOfXunfeiAll" : "TransOfWeiruanFull",
      huaci: "TransOfXunfeiAll"
    }[kind];
    if (!state.lists[file]) state.lists[file] = readPlist("../languages/" + file + ".plist") || [];
    return state.lists[file];
  }

  function languageName(name) {
    var folder = LANGUAGE_FOLDERS[state.lang] || "en";
    if (!state.strings[folder]) state.strings[folder] = readPlist("../lproj/" + folder + ".lproj/Localizable.plist") || {};
    return state.strings[folder][name] || name;
  }

  function translate() {
    document.documentElement.lang = LANGUAGE_FOLDERS[state.lang] || "en";
    document.querySelectorAll("[data-t]").forEach(function (el) { el.textContent = text(el.dataset.t); });
    document.querySelectorAll("[data-tp]").forEach(function (el) { el.placeholder = text(el.dataset.tp); });
    document.querySelectorAll("select[data-options]").forEach(function (select) {
      var rows = CHOICES[select.dataset.options];
      select.innerHTML = "";
      rows.forEach(function (row, value) {
        if (!row) return;
        var option = document.createElement("option");
        option.value = String(value);
        option.textContent = choice(row);
        select.appendChild(option);
      });
    });
    document.querySelectorAll(".segmented[data-options]").forEach(function (box) {
      box.innerHTML = "";
      CHOICES[box.dataset.options].forEach(function (row, value) {
        var button = document.createElement("button");
        button.type = "button";
        button.value = String(value);
        button.textContent = choice(row);
        box.appendChild(button);
      });
    });
    document.querySelectorAll("select[data-list]").forEach(function (select) {
      select.innerHTML = "";
      languageList(select.dataset.list).forEach(function (entry, index) {
        var option = document.createElement("option");
        option.value = String(index);
        option.dataset.code = entry.value;
        option.dataset.name = entry.name;
        option.textContent = languageName(entry.name);
        select.appendChild(option);
      });
    });
    document.getElementById("systemLanguage").value = String(state.lang);
    renderAddError();
    render();
  }

  function setControl(el, value) {
    if (value === undefined || value === null) return;
    if (el.type === "checkbox") el.checked = String(value) !== "0";
    else if (el.classList.contains("segmented"))
      el.querySelectorAll("button").forEach(function (b) { b.classList.toggle("on", b.value === String(value)); });
    else el.value = String(value);
  }

  function selectByCode(select, code) {
    for (var i = 0; i < select.options.length; i++) {
      if (select.options[i].dataset.code === code) { select.selectedIndex = i; return; }
    }
  }

  function render() {
    var data = state.data;
    document.querySelectorAll("[data-key]").forEach(function (el) { setControl(el, data[el.dataset.key]); });
    if (state.page === 0) {
      var name = data.product_myDev_name || "";
      var model = data.product_model_name && data.product_model_name !== "(null)" ? data.product_model_name : "";
      document.getElementById("deviceName").textContent = name || text("notConnected");
      document.getElementById("productModel").textContent = model;
    }
    // The pointer speed and the wheel switch live in the mouse: without one
    // a change would go nowhere, so they wait, and say so.
    var connected = data.mouse_connected === "1";
    document.getElementById("keysWaiting").style.display = connected ? "none" : "block";
    document.getElementById("pointerWaiting").style.display = connected ? "none" : "block";
    document.querySelectorAll("[data-key=auxiliary_click] button, input[data-key=wheel_button_long_click]")
      .forEach(function (control) { control.disabled = !connected; });
    if (state.page === 1) {
      selectByCode(document.getElementById("typingLanguage"), data.speech_recognition_identify_language_id);
      selectByCode(document.getElementById("transFrom"), data.phonetic_translation_identify_language_id);
      document.getElementById("hotKey").textContent = data.screenshot_translation_key || text("unknown");
    }
    if (state.page === 4) {
      ["AppVersion", "deviceSN", "firmwareVersion"].forEach(function (key) {
        var id = key === "AppVersion" ? "appVersion" : key;
        var value = data[key] && data[key] !== "(null)" ? data[key] : text("unknown");
        document.getElementById(id).textContent = value;
      });
      if (data.SystemLanguage !== undefined) document.getElementById("systemLanguage").value = data.SystemLanguage;
    }
    renderCommands();
    renderApps();
  }

  function cell(row, content) {
    var td = document.createElement("td");
    if (content instanceof Node) td.appendChild(content); else td.textContent = content;
    row.appendChild(td);
  }

  function renderCommands() {
    var body = document.querySelector("#commandTable tbody");
    body.innerHTML = "";
    state.commands.forEach(function (command, index) {
      var row = document.createElement("tr");
      cell(row, command.word || "");
      cell(row, command.todo || "");
      cell(row, text(command.type === "file" || command.type === "folder" ? command.type : "web"));
      var remove = document.createElement("button");
      remove.className = "link";
      remove.textContent = text("remove");
      remove.addEventListener("click", function () {
        state.commands.splice(index, 1);
        saveCommands();
      });
      cell(row, remove);
      body.appendChild(row);
    });
    document.getElementById("commandEmpty").style.display = state.commands.length ? "none" : "block";
  }

  function renderApps() {
    var body = document.querySelector("#appTable tbody");
    body.innerHTML = "";
    state.apps.forEach(function (app) {
      var row = document.createElement("tr");
      var icon = document.createElement("img");
      if (app.icon) icon.src = "data:image/png;base64," + app.icon;
      icon.alt = "";
      cell(row, icon);
      cell(row, app.name || "");
      cell(row, app.cmdword || "");
      body.appendChild(row);
    });
    document.getElementById("appEmpty").style.display = state.apps.length ? "none" : "block";
  }

  function saveCommands() {
    renderCommands();
    post("refreshInstructionData", JSON.stringify(state.commands));
  }

  function show(page) {
    state.page = page;
    document.querySelectorAll(".page").forEach(function (section) {
      section.classList.toggle("active", Number(section.dataset.page) === page);
    });
    window.scrollTo(0, 0);
  }

  function isObjectRow(row) {
    return row !== null && typeof row === "object" && !Array.isArray(row);
  }

  // The two lists are told apart by their rows, not by the page on show: an
  // application list built on another thread may arrive after the user moved
  // on. A custom command has a word or a target; an application has neither.
  // The application sends the custom commands only when there are some.
  function isCommandList(list) {
    return list.length > 0 && list.every(function (row) {
      return isObjectRow(row) && ("word" in row || "todo" in row) && !("path" in row) && !("cmdword" in row);
    });
  }

  function isAppList(list) {
    return list.every(function (row) { return isObjectRow(row) && !("word" in row) && !("todo" in row); });
  }

  // Data from the application: a page object or one of the two lists. An
  // empty or unreadable text carries nothing and changes nothing.
  function load(json) {
    var value = parse(json);
    if (Array.isArray(value)) {
      if (isCommandList(value)) state.commands = value;
      else if (isAppList(value)) state.apps = value;
    } else if (isObjectRow(value)) {
      var countryChanged = value.country !== undefined && value.country !== state.country;
      Object.keys(value).forEach(function (key) { state.data[key] = value[key]; });
      if (countryChanged) {
        state.country = value.country;
        translate();
        return;
      }
    }
    render();
  }

  window.goToPage = function (index, json) {
    show(Number(index) || 0);
    load(json);
  };
  window.indexLoading = load;
  window.init = function (json) {
    var value = parse(json);
    if (value && typeof value.lang === "number" && value.lang >= 0 && value.lang <= 4) state.lang = value.lang;
    translate();
  };
  // A chosen folder's address ends with a slash; the kind follows what was chosen.
  window.executionLocationLoad = function (path) {
    document.getElementById("newTarget").value = path;
    document.getElementById("newType").value = /\/$/.test(path) ? "folder" : "file";
    showAddError(null);
  };

  function wire() {
    document.querySelectorAll("select[data-key]").forEach(function (select) {
      select.addEventListener("change", function () {
        var body = {};
        body[select.dataset.key] = select.value;
        state.data[select.dataset.key] = select.value;
        post(select.dataset.msg, body);
      });
    });
    document.querySelectorAll("input[type=checkbox][data-key]").forEach(function (box) {
      box.addEventListener("change", function () {
        var body = {};
        body[box.dataset.key] = box.checked ? "1" : "0";
        state.data[box.dataset.key] = body[box.dataset.key];
        post(box.dataset.msg, body);
      });
    });
    document.querySelectorAll(".segmented[data-key]").forEach(function (group) {
      group.addEventListener("click", function (event) {
        var button = event.target.closest("button");
        if (!button) return;
        var body = {};
        body[group.dataset.key] = button.value;
        state.data[group.dataset.key] = button.value;
        setControl(group, button.value);
        post(group.dataset.msg, body);
      });
    });
    // The language choices travel with their name and code.
    [["typingLanguage", "speech_recognition_identify_language"], ["transFrom", "phonetic_translation_identify_language"]]
      .forEach(function (pair) {
        var select = document.getElementById(pair[0]);
        select.addEventListener("change", function () {
          var option = select.options[select.selectedIndex];
          var body = {};
          body[pair[1] + "_click"] = select.value;
          body[pair[1] + "_name"] = option.dataset.name;
          body[pair[1] + "_id"] = option.dataset.code;
          state.data[pair[1] + "_id"] = option.dataset.code;
          post("aiSettings", body);
        });
      });
    document.querySelectorAll("[data-post]").forEach(function (button) {
      button.addEventListener("click", function () { post(button.dataset.post, ""); });
    });
    document.getElementById("systemLanguage").addEventListener("change", function (event) {
      state.lang = Number(event.target.value);
      state.data.SystemLanguage = String(state.lang);
      post("setSystemLanguage", state.lang);
      translate();
    });
    document.getElementById("addCommand").addEventListener("click", addCommand);
    ["newWord", "newTarget", "newType"].forEach(function (id) {
      document.getElementById(id).addEventListener("input", function () { showAddError(null); });
    });
  }

  // A typed web address without a scheme is meant for the browser: it gets
  // "https://". What still is no address with a host is refused.
  function webAddress(typed) {
    var address = /^[a-z][a-z0-9+.-]*:\/\//i.test(typed) || /^(mailto|tel):/i.test(typed) ? typed : "https://" + typed;
    if (/\s/.test(address)) return null;
    var url;
    try { url = new URL(address); } catch (e) { return null; }
    if ((url.protocol === "http:" || url.protocol === "https:") && !/[^.]\.[^.]|^localhost$/i.test(url.hostname)) return null;
    return address;
  }

  function sameWord(a, b) {
    return String(a || "").trim().toLocaleLowerCase() === String(b || "").trim().toLocaleLowerCase();
  }

  // The add form's complaint, kept as its text key so it follows a language change.
  function showAddError(key, word) {
    state.addError = key ? { key: key, word: word || "" } : null;
    renderAddError();
  }

  function renderAddError() {
    var box = document.getElementById("addError");
    box.textContent = state.addError ? text(state.addError.key).replace("%@", state.addError.word) : "";
    box.style.display = state.addError ? "block" : "none";
  }

  function addCommand() {
    var word = document.getElementById("newWord").value.trim();
    var target = document.getElementById("newTarget").value.trim();
    var type = document.getElementById("newType").value;
    if (!word || !target) {
      showAddError(!word && !target ? "needWordAndTarget" : !word ? "needWord" : "needTarget");
      return;
    }
    if (state.commands.some(function (command) { return sameWord(command.word, word); })) {
      showAddError("duplicateWord", word);
      return;
    }
    if (type === "url") {
      target = webAddress(target);
      if (!target) {
        showAddError("notWebAddress");
        return;
      }
    } else if (target.indexOf("file://") !== 0) {
      target = "file://" + target;
    }
    showAddError(null);
    state.commands.push({ type: type, word: word, todo: target, iconType: type, name: word });
    document.getElementById("newWord").value = "";
    document.getElementById("newTarget").value = "";
    saveCommands();
  }

  wire();
  translate();
  show(0);
})();
