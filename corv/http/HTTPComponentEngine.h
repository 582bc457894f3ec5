// The bodies of the HTTP components' engine templates, for the component units alone: they
// need the engine's declarations, which the component headers keep from their users.
#pragma once
#include <memory>
#include <new>

#include "corv/http/HTTP.h"
#include "corv/http/HTTPComponent.h"

template <class Thunk, class Prepare, class Initialise>
void TcorvHTTPEngineComponent::StartThunk(Thunk*& slot, CWinsock& record, const char* word, Prepare prepare,
                                          Initialise initialise) {
  std::unique_ptr<Thunk> thunk(new (std::nothrow) Thunk);
  if (!thunk) throw EOutOfMemory(AnsiString("Error initializing Tcorv") + word);
  thunk->Owner = static_cast<decltype(thunk->Owner)>(this);
  auto& e = thunk->Engine;
  e.WinsockRecord = &record;
  prepare(e);
  if (!e.Init()) throw EOutOfMemory(AnsiString("could not initialize ") + word + " (out of memory)");
  e.EventSink = static_cast<typename Thunk::Events*>(thunk.get());
  AttachHTTPEngine(&e);

  initialise(e);
  SetInitialValues();

  // A failed load shows only as WinsockLoaded false.
  e.UseWinsock(true);
  slot = thunk.release();
  InitWinsockRecord(record);
}

template <class Thunk>
void TcorvHTTPEngineComponent::RunEngineAction(Thunk* t, int action, const char* url) {
  // The URL is stored before the action is tried, also when the action is refused as busy.
  const int r = url ? t->Engine.SetURL(url, false) : 0;
  if (r != 0) {
    TreatErr(r);
    return;
  }
  RunOnThunk(t, [action](auto& e) { return e.DoAction(action); }, Thunk::kOutOfMemory);
}
