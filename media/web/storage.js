// Runs before the game starts. A page that sets Module.keepFiles keeps the
// game's files in the browser's storage (IndexedDB) across visits: the game
// writes into /save (its tables and replays there, its settings and online
// key under HOME, which is /save too), which is read back from the storage
// before the game starts. Every save of the game syncs its file and then
// its folder, and a sync of a file there writes the folder through to the
// storage. Storage the browser refuses (a private window, no room) leaves
// the files in memory for this visit, and Module.onStorageError says why.
if (typeof Module == 'object' && Module['keepFiles']) {
  Module['preRun'] = (Module['preRun'] || []).concat([function () {
    FS.mkdir('/save');
    FS.mount(IDBFS, {}, '/save');
    FS.chdir('/save');
    ENV['HOME'] = '/save';
    addRunDependency('saved files');
    FS.syncfs(true, function (error) {
      if (error && Module['onStorageError']) Module['onStorageError'](String(error));
      removeRunDependency('saved files');
    });
  }]);
}
