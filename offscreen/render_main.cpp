// fyrel-render: pictures and videos of model files without a display
// (offscreen/render_job.h says what it does and how it exits).
#include <iostream>

#include "importers/model_formats.h"
#include "offscreen/render_job.h"

int main(int argc, char** argv)
{
    fyrel::RenderJob job;
    if (const int status = fyrel::readRenderArguments(argc, argv, job, std::cerr); status >= 0) {
        return status;
    }
    fyrel::keepFreedMemoryForReuse();
    return fyrel::runRenderJob(job, std::cerr);
}
