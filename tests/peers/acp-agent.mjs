// An ACP agent built with the official SDK's app API, speaking newline-
// delimited JSON on stdin/stdout. Pennora's engine client drives it in the
// tests as a second, independent peer beside our own stand-in engine.
//
// Started as `acp-agent.mjs acp -p <profile>` (the engine's command line):
//   initialize     -> protocol version 1, agentInfo {name, version}
//   session/new    -> sessionId "session-<profile>"
//   session/prompt -> "fail" as the prompt text: error -32000 "prompt refused: fail";
//                     anything else: three agent_message_chunk updates
//                     ("Hello", ", ", the prompt text), then stopReason "end_turn"
import { Readable, Writable } from "node:stream";
import * as acp from "@agentclientprotocol/sdk";

const args = process.argv.slice(2);
const profile = args[0] === "acp" && args[1] === "-p" && args[2] ? args[2] : "unknown";

function promptText(prompt) {
  return prompt
    .filter((block) => block.type === "text")
    .map((block) => block.text)
    .join("");
}

const app = acp
  .agent({ name: "pennora-test-agent" })
  .onRequest(acp.methods.agent.initialize, () => ({
    protocolVersion: acp.PROTOCOL_VERSION,
    agentCapabilities: { loadSession: false },
    agentInfo: { name: "pennora-test-agent", version: "2.4.0-sdk" },
  }))
  .onRequest(acp.methods.agent.session.new, () => ({ sessionId: `session-${profile}` }))
  .onRequest(acp.methods.agent.session.prompt, async ({ params, client }) => {
    const text = promptText(params.prompt);
    if (text === "fail") {
      throw new acp.RequestError(-32000, `prompt refused: ${text}`);
    }
    for (const chunk of ["Hello", ", ", text]) {
      await client.notify(acp.methods.client.session.update, {
        sessionId: params.sessionId,
        update: { sessionUpdate: "agent_message_chunk", content: { type: "text", text: chunk } },
      });
    }
    return { stopReason: "end_turn" };
  });

const stream = acp.ndJsonStream(Writable.toWeb(process.stdout), Readable.toWeb(process.stdin));
const connection = app.connect(stream);
await connection.closed;
