// Start-up decoding on worker threads: the effects are decoded side by side
// while the main thread loads the images. Long sounds (the music) are left
// out, as they are streamed. Only decoding runs on the workers: the streams
// are opened and the driver's sounds are made on the main thread.
#include <algorithm>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <thread>

#include "media/audio.h"
#include "media/audio_driver.h"
#include "media/audio_sample.h"
#include "media/stream.h"

namespace {

enum class JobState { Queued, Running, Done };

struct Job {
  StreamRef stream;
  JobState state = JobState::Queued;
  std::unique_ptr<TAudioSample> sample;
};

struct Preloads {
  std::mutex lock;
  std::condition_variable finished;
  std::map<Text, std::shared_ptr<Job>> jobs;  // by url, until LoadSound takes them
  std::deque<std::shared_ptr<Job>> queue;
  std::vector<std::thread> workers;
};

// Never destroyed: the exit hook that joins the workers may run after static
// destructors.
Preloads& State() {
  static auto* state = new Preloads;
  return *state;
}

void Decode(Job& job) {
  if (!job.stream) return;
  job.sample = LoadOggSample(*job.stream);
  job.stream->Close();
  job.stream.reset();
}

void Work() {
  Preloads& p = State();
  std::unique_lock<std::mutex> guard(p.lock);
  while (!p.queue.empty()) {
    std::shared_ptr<Job> job = p.queue.front();
    p.queue.pop_front();
    job->state = JobState::Running;
    guard.unlock();
    Decode(*job);
    guard.lock();
    job->state = JobState::Done;
    p.finished.notify_all();
  }
}

void JoinWorkers() {
  Preloads& p = State();
  std::vector<std::thread> workers;
  {
    std::lock_guard<std::mutex> guard(p.lock);
    workers.swap(p.workers);
  }
  for (std::thread& t : workers) t.join();
}

}  // namespace

void PreloadSounds(const std::vector<Text>& urls) {
  EnsureAudioDriver();
  if (CurrentAudioDriver() == NullAudioDriver())
    return;  // nothing will be heard: nothing to decode

  JoinWorkers();  // workers of an earlier call have finished or are about to
  Preloads& p = State();
  std::lock_guard<std::mutex> guard(p.lock);
  for (const Text& url : urls) {
    if (p.jobs.count(url) || OpenLongSound(url)) continue;  // long sounds are streamed, not decoded
    auto job = std::make_shared<Job>();
    job->stream = OpenFileForReading(url);
    p.jobs[url] = job;
    if (job->stream) {
      p.queue.push_back(job);
    } else {
      job->state = JobState::Done;  // nothing to open, nothing to decode
    }
  }
  unsigned cores = std::max(1u, std::thread::hardware_concurrency());
  size_t count = std::min<size_t>(cores, p.queue.size());
  for (size_t i = 0; i < count; ++i) p.workers.emplace_back(Work);
}

std::unique_ptr<TAudioSample> TakePreloadedSample(const Text& url, bool& found) {
  Preloads& p = State();
  std::shared_ptr<Job> job;
  bool decodeHere = false;
  {
    std::unique_lock<std::mutex> guard(p.lock);
    auto it = p.jobs.find(url);
    found = it != p.jobs.end();
    if (!found) return nullptr;
    job = it->second;
    p.jobs.erase(it);
    if (job->state == JobState::Queued) {
      // Not started yet: decoding it here beats waiting behind the others.
      p.queue.erase(std::find(p.queue.begin(), p.queue.end(), job));
      decodeHere = true;
    } else {
      p.finished.wait(guard, [&] { return job->state == JobState::Done; });
    }
  }
  if (decodeHere) Decode(*job);
  bool allTaken;
  {
    std::lock_guard<std::mutex> guard(p.lock);
    allTaken = p.jobs.empty();
  }
  if (allTaken) JoinWorkers();
  return std::move(job->sample);
}

int PreloadStatus(const Text& url) {
  Preloads& p = State();
  std::lock_guard<std::mutex> guard(p.lock);
  auto it = p.jobs.find(url);
  if (it == p.jobs.end()) return 0;
  const Job& job = *it->second;
  return job.state == JobState::Done && !job.sample ? -1 : 1;
}

void CancelPreloads() {
  Preloads& p = State();
  {
    std::lock_guard<std::mutex> guard(p.lock);
    p.queue.clear();
  }
  JoinWorkers();
  std::lock_guard<std::mutex> guard(p.lock);
  p.jobs.clear();
}
