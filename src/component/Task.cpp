#include "component/Task.h"

#include "engine/EngineTypes.h"

EListError::EListError(int index)
    : std::out_of_range(FormatText("List index out of bounds (%d)", index)) {}

int TFFmpegList::Add(std::unique_ptr<TFFmpeg> task) {
    task->Index = Count();
    tasks_.push_back(std::move(task));
    return Count() - 1;
}

TFFmpeg& TFFmpegList::Get(int index) const {
    if (index < 0 || index >= Count()) throw EListError(index);
    return *tasks_[static_cast<size_t>(index)];
}

void TFFmpegList::Clear() {
    ExtractAll();  // the tasks go with the returned list
}

void TFFmpegList::Delete(int index) {
    Extract(index);
}

std::unique_ptr<TFFmpeg> TFFmpegList::Extract(int index) {
    Get(index);
    auto task = std::move(tasks_[static_cast<size_t>(index)]);
    tasks_.erase(tasks_.begin() + index);
    task->Index = -1;
    for (int i = index; i < Count(); ++i) tasks_[static_cast<size_t>(i)]->Index = i;
    return task;
}

std::vector<std::unique_ptr<TFFmpeg>> TFFmpegList::ExtractAll() {
    std::vector<std::unique_ptr<TFFmpeg>> taken;
    taken.swap(tasks_);
    for (auto& task : taken) task->Index = -1;
    return taken;
}

TFFmpeg* TFFmpegList::FindByThreadId(uint32_t threadId) const {
    for (const auto& task : tasks_)
        if (task->ThreadId.load() == threadId || task->RunsOnThread(static_cast<pid_t>(threadId)))
            return task.get();
    return nullptr;
}
