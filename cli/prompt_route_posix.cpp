#include "prompt_route.h"

namespace telvario::cli {
namespace {

using SetHandlerFn = PromptAnswer (*)(PromptAnswer);

SetHandlerFn HandlerSetter(HMODULE library) {
  return reinterpret_cast<SetHandlerFn>(
      reinterpret_cast<void*>(GetProcAddress(library, "SetMessageBoxHandler")));
}

}  // namespace

PromptRoute::PromptRoute(HMODULE library, PromptAnswer answer, bool /*inAdvance*/)
    : library_(library) {
  if (const SetHandlerFn setHandler = HandlerSetter(library_)) setHandler(answer);
}

PromptRoute::~PromptRoute() {
  if (const SetHandlerFn setHandler = HandlerSetter(library_)) setHandler(nullptr);
}

}  // namespace telvario::cli
