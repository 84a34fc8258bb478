#include "app/batch_app.h"

int main(int argc, char** argv) {
    return tessary::CBatchApp::Run(argc, argv);
}
