// Runs before the game starts, in Node and in the page.
// Node: the .wasm is read from beside this script, and the file named after
// --verify or --watch is copied into the build's own file system under the
// same name, so `node zephrant-web.js --verify FILE` works as the desktop's.
// Page: Module.replayUrl, when set, is fetched to /replay.zrp first.
if (typeof process == 'object' && typeof require == 'function' && !Module['wasmBinary']) {
  var nodeFs = require('fs'), nodePath = require('path');
  Module['wasmBinary'] = nodeFs.readFileSync(nodePath.join(__dirname, 'zephrant-web.wasm'));
  Module['preRun'] = (Module['preRun'] || []).concat([function () {
    var args = Module['arguments'] || process.argv.slice(2);
    for (var i = 0; i + 1 < args.length; ++i) {
      if (args[i] != '--verify' && args[i] != '--watch') continue;
      var data;
      try { data = nodeFs.readFileSync(args[i + 1]); } catch (e) { continue; }
      var dir = nodePath.dirname(args[i + 1]);
      if (dir != '.' && dir != '/') FS.mkdirTree(dir);
      FS.writeFile(args[i + 1], data);
    }
  }]);
} else if (Module['replayUrl']) {
  Module['preRun'] = (Module['preRun'] || []).concat([function () {
    addRunDependency('replay');
    fetch(Module['replayUrl']).then(function (r) {
      if (!r.ok) throw new Error('the replay could not be fetched (' + r.status + ')');
      return r.arrayBuffer();
    }).then(function (bytes) {
      FS.writeFile('/replay.zrp', new Uint8Array(bytes));
      removeRunDependency('replay');
    }).catch(function (e) {
      if (Module['onReplayError']) Module['onReplayError'](String(e));
    });
  }]);
}
