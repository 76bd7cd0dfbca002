// Runs the Khronos glTF validator over each file named on the command line
// and prints every message of severity error (and the counts of all kinds).
// Exit status: 0 when no file has an error, 1 otherwise, 2 usage.
// NODE_PATH names the folder that holds node_modules/gltf-validator.
const fs = require('fs');
const validator = require('gltf-validator');

async function main(files) {
    if (files.length === 0) {
        console.error('usage: node validate_gltf.js FILE...');
        return 2;
    }
    let failed = false;
    for (const file of files) {
        const report = await validator.validateBytes(new Uint8Array(fs.readFileSync(file)), {uri: file, maxIssues: 100});
        const issues = report.issues;
        console.log(`${file}: ${issues.numErrors} errors, ${issues.numWarnings} warnings, ${issues.numInfos} infos`);
        for (const message of issues.messages) {
            if (message.severity === 0) {
                console.log(`  error ${message.code} at ${message.pointer || ''}: ${message.message}`);
                failed = true;
            } else if (message.severity === 1) {
                console.log(`  warning ${message.code} at ${message.pointer || ''}: ${message.message}`);
            }
        }
    }
    return failed ? 1 : 0;
}

main(process.argv.slice(2)).then((status) => process.exit(status), (error) => {
    console.error(String(error));
    process.exit(1);
});
