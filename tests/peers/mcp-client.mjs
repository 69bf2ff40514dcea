// Drives `pennora --serve-mcp` with the official MCP SDK client: initialize,
// tools/list, one call of each tool, an unknown tool and ping.
//
//   node mcp-client.mjs <pennora binary> <piece folder>
//
// Prints "ok" and exits 0 when every step holds; otherwise prints what failed
// on stderr and exits 1.
import { Client } from '@modelcontextprotocol/sdk/client/index.js';
import { StdioClientTransport } from '@modelcontextprotocol/sdk/client/stdio.js';
import { existsSync, readdirSync } from 'node:fs';
import { join } from 'node:path';

const [binary, piece] = process.argv.slice(2);
if (!binary || !piece) {
    console.error('usage: node mcp-client.mjs <pennora binary> <piece folder>');
    process.exit(2);
}

function check(condition, what, detail) {
    if (!condition) {
        throw new Error(`${what}${detail === undefined ? '' : `: ${JSON.stringify(detail)}`}`);
    }
}

function toolAnswer(result, name) {
    check(Array.isArray(result.content) && result.content.length === 1, `${name}: one content item`, result);
    check(result.content[0].type === 'text', `${name}: text content`, result);
    return result.content[0].text;
}

// The whole environment, as every other child of the tests gets it: the SDK
// would pass only a few variables, dropping the sanitizer options.
const transport = new StdioClientTransport({
    command: binary,
    args: ['--serve-mcp'],
    env: process.env,
    stderr: 'pipe',
});
let stderr = '';
transport.stderr?.on('data', (chunk) => {
    stderr += chunk.toString();
});
const client = new Client({ name: 'pennora-peer-test', version: '1.0.0' });

try {
    await client.connect(transport);
    check(client.getServerVersion()?.name === 'pennora-tools', 'server name', client.getServerVersion());
    check(client.getServerVersion()?.version === '1.0', 'server version', client.getServerVersion());
    check(client.getServerCapabilities()?.tools !== undefined, 'tools capability', client.getServerCapabilities());

    const { tools } = await client.listTools();
    check(
        JSON.stringify(tools.map((t) => t.name)) ===
            JSON.stringify(['query_learnings', 'submit_fix_cards', 'submit_research_notes']),
        'tool names',
        tools.map((t) => t.name),
    );
    for (const tool of tools) {
        check(tool.inputSchema?.type === 'object', `${tool.name}: object schema`, tool.inputSchema);
        check(typeof tool.description === 'string' && tool.description.length > 0, `${tool.name}: description`);
    }

    const learnings = await client.callTool({ name: 'query_learnings', arguments: { piece_path: piece } });
    check(!learnings.isError, 'query_learnings succeeds', learnings);
    const listed = JSON.parse(toolAnswer(learnings, 'query_learnings')).learnings;
    check(Array.isArray(listed) && listed.length === 1 && listed[0].file === '20260101-hedging.md',
          'query_learnings lists the one learning', listed);

    const cards = await client.callTool({
        name: 'submit_fix_cards',
        arguments: {
            piece_path: piece,
            cards: [
                { pattern: 'Hedging', problem: 'Softens the claim.', anchor: { quote: 'quite' },
                  lane: 'mechanical', emitter: 'engine', fix: '' },
                { pattern: 'Gone', problem: 'Quotes text that is not there.', anchor: { quote: 'absent words' },
                  lane: 'demonstration', emitter: 'engine', provenance: { piece: 'Peer', pass: 2 } },
            ],
        },
    });
    check(!cards.isError, 'submit_fix_cards succeeds', cards);
    const filed = JSON.parse(toolAnswer(cards, 'submit_fix_cards'));
    check(filed.cards?.length === 2, 'two cards filed', filed);
    check(filed.cards[0].anchor_status === 'valid' && filed.cards[1].anchor_status === 'stale', 'anchor status', filed);
    check(!('dropped_over_ceiling' in filed), 'nothing dropped', filed);
    const onDisk = readdirSync(join(piece, 'cards')).filter((n) => n.endsWith('.json'));
    check(onDisk.length === 2, 'two card files', onDisk);

    const notes = await client.callTool({
        name: 'submit_research_notes',
        arguments: { piece_path: piece, notes: [{ title: 'A source', url: 'https://example.org/a' }] },
    });
    check(!notes.isError, 'submit_research_notes succeeds', notes);
    check(toolAnswer(notes, 'submit_research_notes') === '{"received":1}', 'notes received', notes);
    check(!existsSync(join(piece, 'research')), 'no research folder written');

    const invalid = await client.callTool({ name: 'submit_fix_cards', arguments: { piece_path: piece, cards: [] } });
    check(invalid.isError === true && toolAnswer(invalid, 'invalid') === 'cards must not be empty', 'decoder error', invalid);

    const unknown = await client.callTool({ name: 'no_such_tool', arguments: {} });
    check(unknown.isError === true, 'unknown tool is a tool error', unknown);
    check(toolAnswer(unknown, 'no_such_tool') === 'Unknown tool: no_such_tool', 'unknown tool text', unknown);

    const pong = await client.ping();
    check(pong && Object.keys(pong).length === 0, 'ping answers an empty result', pong);

    await client.close();
    check(stderr === '', 'server wrote nothing to stderr', stderr);
    console.log('ok');
} catch (error) {
    console.error(`mcp peer: ${error.message}`);
    if (stderr) console.error(`server stderr: ${stderr}`);
    await client.close().catch(() => {});
    process.exit(1);
}
